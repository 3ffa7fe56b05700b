# Everything that makes the build an installable package: the version that
# every program's --version prints, the manual pages beside the programs
# (each program's own directory installs the program), and the Debian
# package built by `cpack -G DEB` in the build tree.

# genotypes writes the version into the log of every run.
foreach(program hf hfx hf.sun hfp phf hfimport hfscan hfreg genotypes)
  if(TARGET ${program})
    target_compile_definitions(${program} PRIVATE HS_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()

include(GNUInstallDirs)
# The manual pages are installed compressed at maximum compression without a
# time stamp (gzip -9n), as Debian wants them; hf.sun, the name under which
# hfp runs hf, gets a link to the page of hf.
set(HS_MAN_PAGES hf hfx hfp phf hfimport hfscan hfreg)
set(HS_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(HS_MAN_GZ)
foreach(page ${HS_MAN_PAGES})
  set(src ${PROJECT_SOURCE_DIR}/man/${page}.1)
  set(gz ${HS_MAN_DIR}/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${HS_MAN_DIR}
    COMMAND gzip -9n -c ${src} > ${gz}
    DEPENDS ${src} VERBATIM)
  list(APPEND HS_MAN_GZ ${gz})
endforeach()
add_custom_command(OUTPUT ${HS_MAN_DIR}/hf.sun.1.gz
  COMMAND ${CMAKE_COMMAND} -E create_symlink hf.1.gz ${HS_MAN_DIR}/hf.sun.1.gz
  DEPENDS ${HS_MAN_DIR}/hf.1.gz VERBATIM)
list(APPEND HS_MAN_GZ ${HS_MAN_DIR}/hf.sun.1.gz)
add_custom_target(manpages ALL DEPENDS ${HS_MAN_GZ})
install(FILES ${HS_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What Debian asks of every package beside the programs: the copyright
# file, a changelog, and the reasons for the static estimator (lintian's
# overrides).
string(TIMESTAMP HS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(CPACK_PACKAGE_NAME haplosift)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "HAPLOSIFT")
set(CPACK_PACKAGE_CONTACT
  "HAPLOSIFT maintainers <maintainers@users.noreply.c-seed-2dc7ace7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "haplotype frequency estimation and permutation tests for unphased genotypes")
# One sentence per line: dpkg shows the lines as they are.
set(CPACK_PACKAGE_DESCRIPTION
  "hf and hfx estimate haplotype frequencies of autosomal and X-chromosome
markers by haplotype counting (EM). hfp gives permutation p values for
case-control association and block disequilibrium. phf prepares estimator
input from TRELIX files; hfimport converts PLINK and VCF genotypes.
hfscan tests windows of adjacent markers along the genome, in threads.
hfreg regresses a trait on the haplotypes of a region with the phase unknown.")
set(HS_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in ${HS_DOC_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${HS_DOC_DIR}/changelog.gz
  COMMAND gzip -9n -c ${HS_DOC_DIR}/changelog > ${HS_DOC_DIR}/changelog.gz
  DEPENDS ${HS_DOC_DIR}/changelog VERBATIM)
add_custom_target(packagedocs ALL DEPENDS ${HS_DOC_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright ${HS_DOC_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
get_target_property(HS_HF_LINK hf LINK_OPTIONS)
if("-static" IN_LIST HS_HF_LINK)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME haplosift)
endif()
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
