# hfimport on VCF input (needs htslib): <status> <case> <program> <arguments>
0 import_xvcf hfimport $IN/import/small.vcf out --region X:1-2000000 --hfx --estimator-only --sex-file $IN/import/small.pheno
# One message of the program's own, without htslib's log lines beside it.
1 import_vcf_damaged hfimport $IN/import/damaged.vcf.gz out
# An ID borne by two records: read, with a warning naming it.
0 import_vcf_dupids hfimport $IN/import/dupids.vcf out --hf --estimator-only
