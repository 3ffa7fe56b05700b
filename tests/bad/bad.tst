# Bad input, one small file per class, through the real programs:
# <status> <case> <program> <arguments>; $IN/../bad/inputs holds the files.
# Refusals end with status 1 and a message naming the file and line, and
# leave no report beyond its first line; the rows with status 0 are inputs
# that must run normally. Generated inputs (lines of 100,000 characters),
# resource faults and hfp's report reader are in faults.py.
#
# Estimator input
1 bad_hf_empty hf $IN/../bad/inputs/empty.txt out.hfo
1 bad_hf_header_only hf $IN/../bad/inputs/header_only.txt out.hfo
1 bad_hf_binary hf $IN/../bad/inputs/binary.txt out.hfo
1 bad_hf_nul_header hf $IN/../bad/inputs/nul_header.txt out.hfo
1 bad_hf_alleles0 hf $IN/../bad/inputs/alleles0.txt out.hfo
1 bad_hf_allele_text hf $IN/../bad/inputs/allele_text.txt out.hfo
1 bad_hf_huge_instances hf $IN/../bad/inputs/huge_instances.txt out.hfo
1 bad_hf_id_64bit hf $IN/../bad/inputs/id_64bit.txt out.hfo
# Alleles above the locus's count, 0 and negative mark the locus missing.
0 bad_hf_allele_range hf $IN/../bad/inputs/allele_range.txt out.hfo
1 bad_hfx_sex_missing hfx $IN/../bad/inputs/x_sex_missing.txt out.hfo
1 bad_hfx_male_text hfx $IN/../bad/inputs/x_male_text.txt out.hfo
1 bad_hfx_blank_pair hfx $IN/../bad/inputs/x_blank_pair.txt out.hfo
1 bad_hfx_empty hfx $IN/../bad/inputs/empty.txt out.hfo
# The sample of examples/xchrom.txt with CRLF line ends: the same report.
0 bad_hfx_crlf hfx $IN/../bad/inputs/x_crlf.txt out.hfo
# A header of fewer loci than the records carry rules, with a warning.
0 bad_hf_extra_genotypes hf $IN/../bad/inputs/extra_genotypes.txt out.hfo
1 bad_hf_dir hf $IN/trelix out.hfo
# hf writes its report to a full device: the failure is reported.
1 bad_hf_full hf $EX/twoloci.txt /dev/full
#
# TRELIX parameter file (phf; hfp reads it with the same routine)
1 bad_phf_par_empty phf $IN/../bad/inputs/empty.par $IN/trelix/example.dat out.hf
1 bad_phf_par_short_list phf $IN/../bad/inputs/short_list.par $IN/trelix/example.dat out.hf
1 bad_phf_par_missing_lines phf $IN/../bad/inputs/missing_lines.par $IN/trelix/example.dat out.hf
1 bad_phf_par_loci_text phf $IN/../bad/inputs/loci_text.par $IN/trelix/example.dat out.hf
1 bad_phf_par_alleles51 phf $IN/../bad/inputs/alleles51.par $IN/trelix/example.dat out.hf
1 bad_phf_par_nul phf $IN/../bad/inputs/nul.par $IN/trelix/example.dat out.hf
# Values separated by commas: line 1 is read as far as its numbers go (2
# loci, flags 0), with a warning that names the text left over.
0 bad_phf_par_commas phf $IN/../bad/inputs/commas.par $IN/trelix/example.dat out.hf
# A directory where a file belongs, for phf and hfp alike.
1 bad_phf_par_dir phf $IN/trelix $IN/trelix/example.dat out.hf
1 bad_phf_dat_dir phf $IN/trelix/example.par $IN/trelix out.hf
1 bad_hfp_dat_dir hfp $IN/trelix/example.par $IN/trelix
# Penetrances f0 > f2: a warning, and the run goes on.
0 bad_phf_penetrance_order phf $IN/../bad/inputs/penetrance_order.par $IN/trelix/example.dat out.hf
# CRLF parameter and data files give the output of phf_example.
0 bad_phf_crlf phf $IN/../bad/inputs/crlf.par $IN/../bad/inputs/crlf.dat out.hf
#
# TRELIX data file
1 bad_phf_dat_few_values phf $IN/trelix/example.par $IN/../bad/inputs/few_values.dat out.hf
1 bad_phf_dat_allele_text phf $IN/trelix/example.par $IN/../bad/inputs/allele_text.dat out.hf
1 bad_phf_dat_nul phf $IN/trelix/example.par $IN/../bad/inputs/nul.dat out.hf
1 bad_phf_dat_code1276 phf $IN/../bad/inputs/codes.par $IN/../bad/inputs/code1276.dat out.hf
1 bad_phf_dat_code_negative phf $IN/../bad/inputs/codes.par $IN/../bad/inputs/code_negative.dat out.hf
# Identifiers of 12 and more characters are kept whole (listing on).
0 bad_phf_dat_long_id phf $IN/../bad/inputs/listing.par $IN/../bad/inputs/long_id.dat out.hf
# Negative allele numbers mark the allele missing.
0 bad_phf_dat_allele_negative phf $IN/trelix/example.par $IN/../bad/inputs/allele_negative.dat out.hf
# A data file without a record (empty, or a header line only) gives no
# input for hf: refused.
1 bad_phf_dat_empty phf $IN/trelix/example.par $IN/../bad/inputs/empty.dat out.hf
1 bad_phf_dat_header_only phf $IN/trelix/example.par $IN/../bad/inputs/header_only.dat out.hf
#
# hfreg and hfscan --test glm: a bad choice of model, a base haplotype that
# is absent or rare, no trait, a trait value the kind refuses, permutations
# asked of the GLM.
1 bad_hfreg_effect hfreg $IN/assoc/complete.ped out.tsv --index 5-8 --pheno $IN/assoc/complete.pheno --pheno-col cc --effect quadratic
1 bad_hfreg_base_absent hfreg $IN/assoc/complete.ped out.tsv --index 5-8 --pheno $IN/assoc/complete.pheno --pheno-col cc --base TTTT
1 bad_hfreg_base_rare hfreg $IN/assoc/complete.ped out.tsv --index 5-8 --pheno $IN/assoc/complete.pheno --pheno-col cc --base AAAC
1 bad_hfreg_no_trait hfreg $IN/assoc/complete.ped out.tsv --index 5-8
1 bad_hfreg_binary_value hfreg $IN/assoc/complete.ped out.tsv --index 5-8 --pheno $IN/assoc/complete.pheno --pheno-col qt --trait binary
1 bad_hfscan_glm_permutations hfscan $IN/assoc/complete.ped out.tsv --test glm --permutations 10 --pheno $IN/assoc/complete.pheno --pheno-col cc
