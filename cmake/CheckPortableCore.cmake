# The portable core must build and be tested without Windows: no core file
# may reach a Windows header, or a *_win32.h header of the tree, directly or
# through other headers. The compiler itself says what each core file reaches:
# before a core library is compiled, every core source is preprocessed once
# more with the library's own flags, asking only for its dependency list
# (-M -MG), and cmake/PortableCoreScan.cmake fails the build on any header
# that is
#   - named *_win32.h (the Windows layer's own headers), or
#   - outside the source tree and the build tree, and not reached by a file
#     that includes every standard C and C++ header and the library headers
#     the core is allowed (zlib.h). In the Windows build that is every
#     Windows API header of the toolchain (and the runtime's extras such as
#     io.h) without a list of their names to keep up to date; natively it is
#     every POSIX or other system header.
# A header that cannot be found counts as reached by its name (-MG), so
# <Windows.h> fails on a toolchain that only has windows.h too. The dependency
# list doubles as the depfile of the check, so a check runs again when its
# source or any header it reaches changes.

set(PORTABLE_CORE_SCAN ${CMAKE_CURRENT_LIST_DIR}/PortableCoreScan.cmake)

# Every standard header of C++17 and of C, each taken only where the toolchain
# has it. Deprecated headers that warn when included are left out.
set(PORTABLE_CORE_STANDARD_HEADERS
  algorithm any array atomic bitset cassert ccomplex cctype cerrno cfenv cfloat charconv chrono
  cinttypes ciso646 climits clocale cmath codecvt complex condition_variable csetjmp csignal
  cstdalign cstdarg cstdbool cstddef cstdint cstdio cstdlib cstring ctgmath ctime cuchar cwchar
  cwctype deque exception execution filesystem forward_list fstream functional future
  initializer_list iomanip ios iosfwd iostream istream iterator limits list locale map memory
  memory_resource mutex new numeric optional ostream queue random ratio regex scoped_allocator
  set shared_mutex sstream stack stdexcept streambuf string string_view system_error thread
  tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
  assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h locale.h math.h
  setjmp.h signal.h stdalign.h stdarg.h stdbool.h stddef.h stdint.h stdio.h stdlib.h string.h
  tgmath.h time.h uchar.h wchar.h wctype.h)

# Checks every source in sources (absolute, or relative to the calling
# folder) before target is compiled; libraries names the headers besides the
# standard ones that they may reach (zlib.h). Fails the build, naming the
# source and the header, on a Windows or *_win32.h header.
function(check_portable_core target sources libraries)
  set(dir ${CMAKE_BINARY_DIR}/portable-core/${target})
  # The target's own include folders and definitions, as its compile uses them.
  set(flags ${dir}/flags.cmake)
  set(includes "$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>")
  set(definitions "$<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>")
  file(GENERATE OUTPUT ${flags} CONTENT
    "set(CORE_CHECK_FLAGS -std=c++${CMAKE_CXX_STANDARD} \"$<$<BOOL:${includes}>:-I$<JOIN:${includes},;-I>>\" \"$<$<BOOL:${definitions}>:-D$<JOIN:${definitions},;-D>>\")\n")

  set(reference_source ${dir}/StandardHeaders.cpp)
  set(text "// Every header the portable core may reach outside the tree.\n")
  foreach(header IN LISTS PORTABLE_CORE_STANDARD_HEADERS libraries)
    string(APPEND text "#if __has_include(<${header}>)\n#include <${header}>\n#endif\n")
  endforeach()
  file(WRITE ${reference_source}.in "${text}")
  configure_file(${reference_source}.in ${reference_source} COPYONLY)
  set(reference ${dir}/StandardHeaders.d)
  add_custom_command(
    OUTPUT ${reference}
    COMMAND ${CMAKE_COMMAND} -DMODE=reference -DCOMPILER=${CMAKE_CXX_COMPILER} -DFLAGS=${flags}
            -DSOURCE=${reference_source} -DDEPFILE=${reference} -P ${PORTABLE_CORE_SCAN}
    DEPENDS ${reference_source} ${flags} ${PORTABLE_CORE_SCAN}
    COMMENT "Listing the standard headers for the portable core check of ${target}"
    VERBATIM)

  set(stamps)
  foreach(source IN LISTS sources)
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR} ${path})
    set(stamp ${dir}/${name}.checked)
    add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DMODE=check -DCOMPILER=${CMAKE_CXX_COMPILER} -DFLAGS=${flags}
              -DSOURCE=${path} -DNAME=${name} -DSTAMP=${stamp} -DDEPFILE=${stamp}.d -DREFERENCE=${reference}
              -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBINARY_DIR=${CMAKE_BINARY_DIR} -P ${PORTABLE_CORE_SCAN}
      DEPENDS ${path} ${reference} ${flags} ${PORTABLE_CORE_SCAN}
      DEPFILE ${stamp}.d
      COMMENT "Checking that ${name} reaches no Windows header"
      VERBATIM)
    list(APPEND stamps ${stamp})
  endforeach()
  add_custom_target(${target}_portable_check DEPENDS ${stamps})
  add_dependencies(${target} ${target}_portable_check)
endfunction()
