# Run by ctest after the tests (CTestCustom.cmake of the build tree): prints
# the reason of every test that skipped itself in this run, from the notes
# it left as NOTES/<test>.txt. ctest shows no output of a skipped test.
#
#     cmake -DNOTES=DIR -P skipped.cmake
file(GLOB notes "${NOTES}/*.txt")
foreach(note IN LISTS notes)
  get_filename_component(name "${note}" NAME_WE)
  file(READ "${note}" reason)
  string(STRIP "${reason}" reason)
  message("${name} was skipped: ${reason}")
endforeach()
