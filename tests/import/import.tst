# hfimport end to end: <status> <case> <program> <arguments>
0 import_ped hfimport $IN/import/small.ped out --region 6:31000000-31002000 --hf --permutations 20
0 import_names hfimport $IN/import/small.bed out --markers $IN/import/window.txt --no-status --block1 1
0 import_xvcf hfimport $IN/import/small.vcf out --region X:1-2000000 --hfx --estimator-only --sex-file $IN/import/small.pheno
1 import_misspelt hfimport $IN/import/small.ped out --markers $IN/import/misspelt.txt
1 import_badregion hfimport $IN/import/small.ped out --region 6:5-1
1 import_twowindows hfimport $IN/import/small.ped out --region 6:1-5 --index 1-2
1 import_usage hfimport
1 import_unknownkind hfimport $IN/import/small.map out
