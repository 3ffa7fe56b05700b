# hfimport end to end: <status> <case> <program> <arguments>
0 import_ped hfimport $IN/import/small.ped out --region 6:31000000-31002000 --hf --permutations 20
0 import_names hfimport $IN/import/small.bed out --markers $IN/import/window.txt --no-status --block1 1
1 import_misspelt hfimport $IN/import/small.ped out --markers $IN/import/misspelt.txt
1 import_badregion hfimport $IN/import/small.ped out --region 6:5-1
1 import_twowindows hfimport $IN/import/small.ped out --region 6:1-5 --index 1-2
1 import_usage hfimport
1 import_unknownkind hfimport $IN/import/small.map out
# The file typed is named when it is missing, not its companion .map.
1 import_misspelt_ped hfimport $IN/import/stud.ped out
1 import_dir hfimport $IN/import/small.ped out --pheno $IN/import --pheno-col status
# A phenotype table that names no individual of the input is refused; one
# that names some is used, and the rows left out are counted.
1 import_pheno_strangers hfimport $IN/import/small.ped out --pheno $IN/import/strangers.pheno --pheno-col status
0 import_pheno_some hfimport $IN/import/small.ped out --index 1-2 --pheno $IN/import/some.pheno --pheno-col status --permutations 10
# Markers on X in the parameter and data files: a warning that males are diploid there.
0 import_xtrelix hfimport $IN/import/small.ped out --region X:1-2000000
