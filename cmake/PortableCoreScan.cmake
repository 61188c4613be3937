# One step of the portable core check (cmake/CheckPortableCore.cmake), run
# by the build:
#   cmake -DMODE=reference -DCOMPILER=c++ -DFLAGS=flags.cmake -DSOURCE=StandardHeaders.cpp
#         -DDEPFILE=StandardHeaders.d -P PortableCoreScan.cmake
# lists the headers the standard headers reach;
#   cmake -DMODE=check -DCOMPILER=c++ -DFLAGS=flags.cmake -DSOURCE=/src/package/Extract.cpp
#         -DNAME=package/Extract.cpp -DSTAMP=x.checked -DDEPFILE=x.checked.d
#         -DREFERENCE=StandardHeaders.d -DSOURCE_DIR=/src -DBINARY_DIR=/build -P PortableCoreScan.cmake
# lists what one core source reaches into DEPFILE (the build's depfile for
# STAMP), fails naming every forbidden header, and writes STAMP when there is
# none.

cmake_minimum_required(VERSION 3.20)
include(${FLAGS})

# Every file a depfile names, first the target's sources then the headers,
# as absolute paths where the compiler found them and as written where it
# did not (-MG).
function(read_depfile depfile out)
  file(READ ${depfile} text)
  string(REPLACE "\\\n" " " text "${text}")
  # An escaped space is part of a name; the list separator is not.
  string(REPLACE "\\ " "<space>" text "${text}")
  string(REPLACE ";" "<semicolon>" text "${text}")
  # The rule's target, up to the first ": ", is not one of them.
  string(FIND "${text}" ": " colon)
  math(EXPR colon "${colon} + 2")
  string(SUBSTRING "${text}" ${colon} -1 text)
  string(REGEX REPLACE "[ \t\n]+" ";" text "${text}")
  set(files)
  foreach(file IN LISTS text)
    if(file STREQUAL "")
      continue()
    endif()
    string(REPLACE "<space>" " " file "${file}")
    string(REPLACE "<semicolon>" "\\;" file "${file}")
    list(APPEND files "${file}")
  endforeach()
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

# The name a header is compared by: its real path where it exists, so that
# the same file reached through a link or a "..\" is one file; lower case, as
# Windows names files.
function(header_key file out)
  if(IS_ABSOLUTE "${file}" AND EXISTS "${file}")
    get_filename_component(file "${file}" REALPATH)
  endif()
  string(TOLOWER "${file}" file)
  set(${out} "${file}" PARENT_SCOPE)
endfunction()

# Runs the compiler for the dependency list of SOURCE into DEPFILE, naming target.
function(list_dependencies target)
  # Ninja makes an output's folder before its command runs; make does not.
  get_filename_component(folder ${DEPFILE} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  execute_process(
    COMMAND ${COMPILER} ${CORE_CHECK_FLAGS} -M -MG -MF ${DEPFILE} -MT ${target} -x c++ ${SOURCE}
    RESULT_VARIABLE failed ERROR_VARIABLE errors)
  if(failed)
    message(FATAL_ERROR "${SOURCE}: the compiler could not list what it includes:\n${errors}")
  endif()
endfunction()

if(MODE STREQUAL "reference")
  list_dependencies(${DEPFILE})
  read_depfile(${DEPFILE} files)
  # Were the Windows API among them, the check could not tell the core from
  # the standard library.
  foreach(file IN LISTS files)
    get_filename_component(name "${file}" NAME)
    string(TOLOWER "${name}" name)
    if(name STREQUAL "windows.h")
      file(REMOVE ${DEPFILE})
      message(FATAL_ERROR "the standard headers of ${COMPILER} reach ${file}: the portable core check cannot work")
    endif()
  endforeach()
  return()
endif()

file(REMOVE ${STAMP})
read_depfile(${REFERENCE} standard)
set(allowed)
foreach(file IN LISTS standard)
  header_key("${file}" key)
  list(APPEND allowed "${key}")
endforeach()

list_dependencies(${STAMP})
read_depfile(${DEPFILE} reached)
list(REMOVE_AT reached 0)  # the source itself
header_key("${SOURCE_DIR}" source_dir)
header_key("${BINARY_DIR}" binary_dir)
set(problems)
foreach(file IN LISTS reached)
  get_filename_component(name "${file}" NAME)
  header_key("${file}" key)
  string(FIND "${key}" "${source_dir}/" in_source)
  string(FIND "${key}" "${binary_dir}/" in_binary)
  if(name MATCHES "_[wW][iI][nN]32\\.[hH]$")
    list(APPEND problems "${file} (the Windows layer's header)")
  elseif(IS_ABSOLUTE "${file}" AND (in_source EQUAL 0 OR in_binary EQUAL 0))
    # A header of the tree: what it includes is in the list as well.
  elseif(NOT key IN_LIST allowed)
    if(IS_ABSOLUTE "${file}")
      list(APPEND problems "${file} (a Windows or other system header, not a standard one)")
    else()
      list(APPEND problems "<${file}> (not found here, and not a standard header)")
    endif()
  endif()
endforeach()
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${NAME} is part of the portable core but reaches, itself or through other headers:\n  ${text}\n"
          "Windows calls belong in the *_win32 files of the platform layer.")
endif()
file(TOUCH ${STAMP})
