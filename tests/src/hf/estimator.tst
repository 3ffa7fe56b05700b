# status  case  program  arguments
# Start-up and command line
0 hf_usage hf
0 hfx_usage hfx
1 hf_noinput hf nosuchfile.txt
# An input that cannot be opened creates no report; the report file is
# still tried, without creating it, for its message.
1 hf_noinput_out hf nosuchfile.txt out.hfo
1 hf_noinput_unwritable hf nosuchfile.txt nosuchdir/out.hfo
0 hf_unwritable_out hf $EX/twoloci.txt nosuchdir/out.hfo 0.5
0 hf_stdout hf $EX/twoloci.txt
# The worked samples, whole reports
0 hf_twoloci hf $EX/twoloci.txt out.hfo
0 hfx_xchrom hfx $EX/xchrom.txt out.hfo
0 hf_twoloci_cut0 hf $EX/twoloci.txt out.hfo 0
# The EM ended by its step cap: the report as ever, one warning.
0 hf_capped hf $IN/estimator/capped.txt out.hfo
# A threshold with no number at its start is refused before any file is touched.
1 hf_twoloci_cutx hf $EX/twoloci.txt out.hfo abc
# Samples with missing data and several alleles; expected reports computed
# by the independent reference in tests/oracle
0 hf_threeloci hf $IN/estimator/threeloci.txt out.hfo
0 hfx_xmulti hfx $IN/estimator/xmulti.txt out.hfo
0 hf_zero_fraction hf $IN/estimator/zero_fraction.txt out.hfo
0 hf_crlf hf $IN/estimator/crlf.txt out.hfo
# Bad input: a clear message, status 1, no report beyond its first line
1 hf_untyped_locus hf $IN/estimator/untyped_locus.txt out.hfo
1 hf_no_record hf $IN/estimator/no_record.txt out.hfo
1 hf_negative_instances hf $IN/estimator/negative_instances.txt out.hfo
1 hfx_sex2 hfx $IN/estimator/sex2.txt out.hfo
1 hf_short_line hf $IN/estimator/short_line.txt out.hfo
1 hf_loci61 hf $IN/estimator/loci61.txt out.hfo
1 hf_alleles51 hf $IN/estimator/alleles51.txt out.hfo
