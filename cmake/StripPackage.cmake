# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack on its staging folder before it makes the package: strips the programs as
# Debian's own packages are stripped, without the symbol tables and without the .comment
# and .note sections that only name the compiler. The debugging information stays in the
# build folder's bin/.
file(GLOB_RECURSE veldra_programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
if(NOT veldra_programs)
  message(FATAL_ERROR "no programs to strip under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program IN LISTS veldra_programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${program}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
