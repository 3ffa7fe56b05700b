# phf end to end: <status> <case> <program> <arguments>
# The worked example: two loci, one record without information left out.
0 phf_example phf $IN/trelix/example.par $IN/trelix/example.dat example.hf
# The estimator accepts phf's output (a copy of phf_example.example.hf).
0 phf_hf hf $IN/trelix/example.hf report.txt
# Case-control data with the record listing and a disease model.
0 phf_cc phf $IN/trelix/cc.par $IN/trelix/cc.dat cc.hf
# Genotype codes; case-control data without a disease model line.
0 phf_nomodel phf $IN/trelix/nomodel.par $IN/trelix/genotype.dat out.hf
# No record typed at a selected locus: refused, the output holds its first
# line only.
1 phf_empty phf $IN/trelix/example.par $IN/trelix/allmissing.dat out.hf
# Refusals: too few arguments, 31 loci, an allele above its count,
# unwritable output.
1 phf_usage phf $IN/trelix/example.par $IN/trelix/example.dat
1 phf_maxloci phf $IN/trelix/loci31.par $IN/trelix/example.dat out.hf
1 phf_badallele phf $IN/trelix/example.par $IN/trelix/badallele.dat out.hf
1 phf_full phf $IN/trelix/example.par $IN/trelix/example.dat /dev/full
1 phf_noout phf $IN/trelix/example.par $IN/trelix/example.dat nodir/out.hf
