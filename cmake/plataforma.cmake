# What differs between the Linux and the Windows build, in one place.
#
# Sources: in every layer folder, a file whose name ends in "_win.cpp" is
# built only for Windows and one ending in "_posix.cpp" only for the other
# systems; every other source is built everywhere.
function(ondaris_fontes_da_plataforma variavel)
  set(fontes ${${variavel}})
  if(WIN32)
    list(FILTER fontes EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER fontes EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${variavel} ${fontes} PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  find_library(FBCLIENT_LIBRARY NAMES fbclient REQUIRED)
  find_path(FIREBIRD_INCLUDE_DIR firebird/Interface.h REQUIRED)
  return()
endif()

# ---- Windows (cross-compiled with mingw-w64) --------------------------------
#
# Headers that no mingw package carries come from Debian's own packages:
# firebird-dev (the OO API: Interface.h with ibase.h and iberror.h) and
# rapidjson-dev. They are plain C++ with Windows branches of their own; they
# are reached through a folder of links so that nothing else of
# /usr/include (the Linux C library) can leak into a Windows build.
set(ONDARIS_CABECALHOS_DEBIAN ${CMAKE_BINARY_DIR}/cabecalhos-debian)
file(MAKE_DIRECTORY ${ONDARIS_CABECALHOS_DEBIAN})
foreach(item firebird ibase.h iberror.h rapidjson)
  if(NOT EXISTS /usr/include/${item})
    message(FATAL_ERROR "/usr/include/${item} is missing: run scripts/install-deps "
                        "(packages firebird-dev and rapidjson-dev)")
  endif()
  file(CREATE_LINK /usr/include/${item} ${ONDARIS_CABECALHOS_DEBIAN}/${item} SYMBOLIC)
endforeach()
# As system headers, like /usr/include on Linux: their own warnings are not ours.
include_directories(SYSTEM ${ONDARIS_CABECALHOS_DEBIAN})
set(FIREBIRD_INCLUDE_DIR ${ONDARIS_CABECALHOS_DEBIAN})
set(RAPIDJSON_INCLUDE_DIRS ${ONDARIS_CABECALHOS_DEBIAN})
# fbclient.dll is not linked: db/fbclient_win.cpp loads it at run time.
set(FBCLIENT_LIBRARY "")

# Windows 8 and later: GetLocaleInfoEx, locale names.
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 UNICODE _UNICODE NOMINMAX)
# localtime_r and gmtime_r, as the C run time's localtime_s and gmtime_s.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)
