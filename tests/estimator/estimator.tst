# status  case  program  arguments
# Start-up and command line
0 hf_usage hf
0 hfx_usage hfx
1 hf_noinput hf nosuchfile.txt
1 hf_noinput_out hf nosuchfile.txt out.hfo
0 hf_unwritable_out hf $EX/twoloci.txt nosuchdir/out.hfo 0.5
0 hf_stdout hf $EX/twoloci.txt
# The worked samples, whole reports
0 hf_twoloci hf $EX/twoloci.txt out.hfo
0 hfx_xchrom hfx $EX/xchrom.txt out.hfo
0 hf_twoloci_cut0 hf $EX/twoloci.txt out.hfo 0
0 hf_twoloci_cutx hf $EX/twoloci.txt out.hfo abc
