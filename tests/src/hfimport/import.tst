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
# PLINK's way of naming files: --bfile/--file with --out (the files of
# import_ped), a prefix without an ending that finds both a .bed and a .ped
# (refused), an input given two ways (refused), --chr for a whole
# chromosome, a listed marker that is missing let through with a warning,
# the status column by its number.
0 import_bfile_out hfimport --bfile $IN/import/small --out out --region 6:31000000-31002000 --hf --permutations 20
1 import_prefix_both hfimport $IN/import/small out
1 import_two_inputs hfimport --file $IN/import/small $IN/import/small.ped out
0 import_chr_x hfimport --file $IN/import/small --out out --chr X --estimator-only --hfx
0 import_allow_missing hfimport $IN/import/small.ped out --markers $IN/import/misspelt.txt --allow-missing-markers --permutations 5
0 import_pheno_number hfimport $IN/import/small.ped out --index 1-2 --pheno $IN/import/some.pheno --pheno-col-nums 3 --permutations 10
