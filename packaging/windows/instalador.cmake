# OndarisSetup.exe, the installer of a store's machine, built with NSIS
# (makensis, Debian package nsis) from the programs of this build: always
# ondarisd.exe, and Ondaris.exe when the build makes the tray program. Its
# version and publisher are the programs' own (app/CMakeLists.txt).
find_program(ONDARIS_MAKENSIS makensis)
if(NOT ONDARIS_MAKENSIS)
  message(WARNING "makensis not found: OndarisSetup.exe is not built (scripts/install-deps installs nsis)")
  return()
endif()

set(ONDARIS_INSTALADOR ${CMAKE_BINARY_DIR}/OndarisSetup.exe)
set(ONDARIS_INSTALADOR_FONTES
    ${CMAKE_CURRENT_LIST_DIR}/ondaris.nsi
    ${CMAKE_CURRENT_LIST_DIR}/korvin.ini)
set(ONDARIS_INSTALADOR_PROGRAMAS ondarisd)
if(TARGET Ondaris)
  list(APPEND ONDARIS_INSTALADOR_PROGRAMAS Ondaris)
endif()
add_custom_command(
  OUTPUT ${ONDARIS_INSTALADOR}
  COMMAND ${ONDARIS_MAKENSIS} -V2 -NOCD
          -DVERSAO=${PROJECT_VERSION}
          -DEDITOR=${ONDARIS_EDITOR}
          -DPROGRAMAS=$<TARGET_FILE_DIR:ondarisd>
          -DSAIDA=${ONDARIS_INSTALADOR}
          ${CMAKE_CURRENT_LIST_DIR}/ondaris.nsi
  DEPENDS ${ONDARIS_INSTALADOR_FONTES} ${ONDARIS_INSTALADOR_PROGRAMAS}
  COMMENT "OndarisSetup.exe (NSIS)"
  VERBATIM)
add_custom_target(OndarisSetup ALL DEPENDS ${ONDARIS_INSTALADOR})
