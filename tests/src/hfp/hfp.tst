# hfp end to end with the real estimator: <status> <case> <program> <arguments>
1 hfp_usage hfp only-one-argument
0 hfp_casecontrol hfp $EX/casecontrol.par $EX/casecontrol.dat report.txt 7
0 hfp_blocks hfp $EX/blocks.par $EX/casecontrol.dat report.txt 7
