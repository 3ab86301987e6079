# OndarisSetup.exe, the installer of a store's machine, built with NSIS
# (makensis, Debian package nsis) from the programs of this build: always
# ondarisd.exe, and Ondaris.exe when the build makes the tray program. They
# go in without their debugging information (a copy, stripped, in
# instalador/ of the build folder). Its version and publisher are the
# programs' own (app/CMakeLists.txt).
find_program(ONDARIS_MAKENSIS makensis)
if(NOT ONDARIS_MAKENSIS)
  message(WARNING "makensis not found: OndarisSetup.exe is not built (scripts/install-deps installs nsis)")
  return()
endif()

set(ONDARIS_INSTALADOR ${CMAKE_BINARY_DIR}/OndarisSetup.exe)
set(ONDARIS_INSTALADOR_PASTA ${CMAKE_BINARY_DIR}/instalador)
set(ONDARIS_INSTALADOR_PROGRAMAS ondarisd)
if(TARGET Ondaris)
  list(APPEND ONDARIS_INSTALADOR_PROGRAMAS Ondaris)
endif()
set(ONDARIS_INSTALADOR_COPIAS)
foreach(programa IN LISTS ONDARIS_INSTALADOR_PROGRAMAS)
  list(APPEND ONDARIS_INSTALADOR_COPIAS
       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${programa}> ${ONDARIS_INSTALADOR_PASTA}/
       COMMAND ${CMAKE_STRIP} --strip-debug ${ONDARIS_INSTALADOR_PASTA}/$<TARGET_FILE_NAME:${programa}>)
endforeach()
add_custom_command(
  OUTPUT ${ONDARIS_INSTALADOR}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ONDARIS_INSTALADOR_PASTA}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ONDARIS_INSTALADOR_PASTA}
  ${ONDARIS_INSTALADOR_COPIAS}
  COMMAND ${ONDARIS_MAKENSIS} -V2 -NOCD
          -DVERSAO=${PROJECT_VERSION}
          -DEDITOR=${ONDARIS_EDITOR}
          -DPROGRAMAS=${ONDARIS_INSTALADOR_PASTA}
          -DSAIDA=${ONDARIS_INSTALADOR}
          ${CMAKE_CURRENT_LIST_DIR}/ondaris.nsi
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ondaris.nsi ${CMAKE_CURRENT_LIST_DIR}/korvin.ini ${ONDARIS_INSTALADOR_PROGRAMAS}
  COMMENT "OndarisSetup.exe (NSIS)"
  VERBATIM)
add_custom_target(OndarisSetup ALL DEPENDS ${ONDARIS_INSTALADOR})
