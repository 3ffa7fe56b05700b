# Everything that makes the build an installable package: the version that
# every program's --version prints, the manual pages beside the programs
# (each program's own directory installs the program), and the Debian
# package built by `cpack -G DEB` in the build tree.

foreach(program hf hfx hf.sun hfp phf hfimport)
  if(TARGET ${program})
    target_compile_definitions(${program} PRIVATE HS_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()

include(GNUInstallDirs)
install(FILES
  ${PROJECT_SOURCE_DIR}/man/hf.1
  ${PROJECT_SOURCE_DIR}/man/hfx.1
  ${PROJECT_SOURCE_DIR}/man/hfp.1
  ${PROJECT_SOURCE_DIR}/man/phf.1
  ${PROJECT_SOURCE_DIR}/man/hfimport.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME haplosift)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "HAPLOSIFT")
set(CPACK_PACKAGE_CONTACT "HAPLOSIFT maintainers <haplosift@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "haplotype frequency estimation and permutation tests for unphased genotypes")
set(CPACK_PACKAGE_DESCRIPTION
  "hf and hfx estimate haplotype frequencies of autosomal and X-chromosome markers by \
haplotype counting (EM); hfp gives permutation p values for case-control association \
and block disequilibrium; phf prepares estimator input from TRELIX files; hfimport \
converts PLINK and VCF genotypes.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Library dependencies from the binaries themselves when dpkg-shlibdeps is
# there; otherwise the libraries the programs link, named by hand.
find_program(HS_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(HS_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  if(HS_VCF)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libhts3")
  endif()
endif()
set(CPACK_GENERATOR DEB)
include(CPack)
