# The test suites of the Windows build (included by tests/CMakeLists.txt):
# every suite that needs no database server, cross-compiled and run under
# wine64, CTest's emulator (cmake/mingw-w64.cmake). Suites that need a
# Firebird server, the central server or Qt stay on Linux: there is neither
# a Windows Firebird server nor Qt for Windows on the build machine.
#
# GoogleTest is built from Debian's googletest sources. The in-process HTTP
# server has a Winsock implementation of its own (servidor_http_win.cpp):
# Debian's cpp-httplib ships its compiled part for Linux only.
set(ONDARIS_GOOGLETEST /usr/src/googletest/googletest)
if(NOT EXISTS ${ONDARIS_GOOGLETEST}/CMakeLists.txt)
  message(FATAL_ERROR "${ONDARIS_GOOGLETEST} is missing: run scripts/install-deps (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ONDARIS_GOOGLETEST} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own warnings are not ours to fail on.
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS -w)
include(GoogleTest)

add_library(ondaris_test_support STATIC ${CMAKE_CURRENT_SOURCE_DIR}/windows/servidor_http_win.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/support/pasta_temporaria.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/support/servidor_http_comum.cpp)
target_include_directories(ondaris_test_support PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(ondaris_test_support PUBLIC
  ONDARIS_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  ONDARIS_BINARY_DIR="${PROJECT_BINARY_DIR}")
target_link_libraries(ondaris_test_support PUBLIC ondaris_sync gtest ws2_32)

# One executable per suite, labelled like its Linux counterpart; `arquivos`
# are relative to tests/.
function(ondaris_suite_windows nome)
  cmake_parse_arguments(ARG "" "" "ARQUIVOS;LIBS" ${ARGN})
  list(TRANSFORM ARG_ARQUIVOS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(test_${nome} ${ARG_ARQUIVOS})
  target_link_libraries(test_${nome} PRIVATE ondaris_test_support gtest_main ${ARG_LIBS})
  add_test(NAME ${nome} COMMAND test_${nome} --gtest_brief=0)
  set_tests_properties(${nome} PROPERTIES LABELS "${nome};windows" TIMEOUT 600)
endfunction()

# The engine: requests against the in-process server, sending's texts.
# All of tests/sync needs no database.
file(GLOB ONDARIS_TESTES_SYNC RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/sync/*.cpp)
ondaris_suite_windows(sync ARQUIVOS ${ONDARIS_TESTES_SYNC})
# The protocol (message format, base64, column texts), against protocolo/
# alone.
file(GLOB ONDARIS_TESTES_PROTOCOLO CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sync/protocolo/*.cpp)
add_executable(test_protocolo ${ONDARIS_TESTES_PROTOCOLO})
target_link_libraries(test_protocolo PRIVATE ondaris_protocolo gtest gtest_main)
add_test(NAME protocolo COMMAND test_protocolo --gtest_brief=0)
set_tests_properties(protocolo PROPERTIES LABELS "sync;windows" TIMEOUT 600)
# The database layer's parts that need no server.
ondaris_suite_windows(db ARQUIVOS db/db_puro_test.cpp)
# The shell's parts free of Qt and of the database.
ondaris_suite_windows(app ARQUIVOS app/ciclo_test.cpp app/registro_test.cpp app/servico_test.cpp
                      LIBS ondaris_shell)
# What only Windows has: regional settings, the executable's folder, the log
# file, the version resource, the client library's loading, the service.
file(GLOB ONDARIS_TESTES_WINDOWS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/windows/*_test.cpp)
ondaris_suite_windows(plataforma ARQUIVOS ${ONDARIS_TESTES_WINDOWS} LIBS ondaris_shell)
add_dependencies(test_plataforma ondarisd)
# The installer's version resource is compared with the programs'.
if(TARGET OndarisSetup)
  add_dependencies(test_plataforma OndarisSetup)
endif()

# The tray program's Win32 window (app/win), driven through its messages, and
# the real Ondaris.exe. Windows need a display: under a virtual one
# (xvfb-run) when the machine has none.
add_executable(test_janela ${CMAKE_CURRENT_SOURCE_DIR}/windows/janela/janela_win_test.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/windows/janela/area_de_trabalho.cpp)
target_include_directories(test_janela PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/windows)
target_link_libraries(test_janela PRIVATE ondaris_test_support gtest_main ondaris_win)
add_dependencies(test_janela Ondaris)
find_program(ONDARIS_XVFB_RUN xvfb-run)
if(ONDARIS_XVFB_RUN AND ONDARIS_WINE64)
  add_test(NAME janela COMMAND ${ONDARIS_XVFB_RUN} -a ${ONDARIS_WINE64} $<TARGET_FILE:test_janela> --gtest_brief=0)
else()
  add_test(NAME janela COMMAND test_janela --gtest_brief=0)
endif()
set_tests_properties(janela PROPERTIES LABELS "janela;windows" TIMEOUT 120)
# Pictures of the window, the tray menu and the password dialog
# (scripts/capturas-windows); built only when asked for.
add_executable(ondaris_capturas_win EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/windows/janela/capturas_win.cpp)
target_include_directories(ondaris_capturas_win PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/windows)
target_link_libraries(ondaris_capturas_win PRIVATE ondaris_win)
