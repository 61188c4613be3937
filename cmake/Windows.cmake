# The Windows build, cross-compiled with mingw-w64: the updater, the makers'
# tool, and the test programs that run under Wine. Everything links statically
# so that no runtime DLL has to travel with it.
set(MINGW_ZLIB ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
add_link_options(-static -static-libgcc -static-libstdc++)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

# The portable core is compiled once, for the updater's library and for the
# scripted one of the core tests alike.
add_library(updatercore_objects OBJECT ${UPDATER_CORE_SOURCES})
target_include_directories(updatercore_objects PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(updatercore_objects PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_compile_options(updatercore_objects PRIVATE ${UPDATER_TEXT_FLAGS})

add_library(updatercore STATIC $<TARGET_OBJECTS:updatercore_objects> ${UPDATER_WIN32_SOURCES})
target_include_directories(updatercore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(updatercore PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_compile_options(updatercore PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(updatercore PUBLIC ${MINGW_ZLIB} comctl32 winmm ole32 shell32 user32 gdi32 bcrypt advapi32)

# The updater's import table names only kernel32, advapi32 and the C runtime;
# these libraries are delay-loaded instead, from the system folder alone
# (services/SystemLibraries_win32.h). Their delay-import libraries are made
# from mingw-w64's import libraries and come first on the updater's link line.
set(UPDATER_DELAYED_LIBRARIES user32 gdi32 comctl32 winmm ole32 shell32 bcrypt)
find_program(MINGW_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)
set(UPDATER_DELAYED_IMPORTS)
foreach(library ${UPDATER_DELAYED_LIBRARIES})
  set(def ${CMAKE_BINARY_DIR}/generated/${library}_delayed.def)
  set(archive ${CMAKE_BINARY_DIR}/generated/lib${library}_delayed.a)
  add_custom_command(
    OUTPUT ${archive}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPORT_LIBRARY=${CMAKE_FIND_ROOT_PATH}/lib/lib${library}.a
            -DDLL=${library}.dll -DDEF=${def} -P ${CMAKE_SOURCE_DIR}/cmake/DelayImportDef.cmake
    COMMAND ${MINGW_DLLTOOL} --input-def ${def} --output-delaylib ${archive} --dllname ${library}.dll
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/DelayImportDef.cmake
    COMMENT "Making the delay-import library of ${library}")
  list(APPEND UPDATER_DELAYED_IMPORTS ${archive})
endforeach()
add_custom_target(delayed_imports DEPENDS ${UPDATER_DELAYED_IMPORTS})

# Binary resources come from generators in the tree, compiled for the machine
# that builds (not for Windows).
set(HOST_CXX c++ CACHE STRING "C++ compiler for the build machine's generators")
set(GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GENERATED_DIR})
# Builds generator from source with the host compiler and runs it to make output.
function(generate_on_host generator source output)
  add_custom_command(
    OUTPUT ${GENERATED_DIR}/${generator}
    COMMAND ${HOST_CXX} -std=c++17 -O2 -o ${GENERATED_DIR}/${generator} ${CMAKE_SOURCE_DIR}/${source}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} ${CMAKE_SOURCE_DIR}/resources/GeneratedFile.h
    COMMENT "Building ${generator}")
  add_custom_command(
    OUTPUT ${GENERATED_DIR}/${output}
    COMMAND ${GENERATED_DIR}/${generator} ${GENERATED_DIR}/${output}
    DEPENDS ${GENERATED_DIR}/${generator}
    COMMENT "Generating ${output}")
endfunction()

generate_on_host(makeavi resources/MakeAvi.cpp filecopy.avi)
generate_on_host(makeicon resources/MakeIcon.cpp app.ico)
add_custom_target(generated_resources DEPENDS ${GENERATED_DIR}/filecopy.avi ${GENERATED_DIR}/app.ico)

file(GLOB UPDATER_RC_PARTS ${CMAKE_SOURCE_DIR}/resources/*.rc ${CMAKE_SOURCE_DIR}/resources/*.h
  ${CMAKE_SOURCE_DIR}/resources/*.manifest)
set_source_files_properties(resources/app.rc PROPERTIES
  OBJECT_DEPENDS "${GENERATED_DIR}/filecopy.avi;${GENERATED_DIR}/app.ico;${UPDATER_RC_PARTS}")

add_executable(updater WIN32 shell/Main_win32.cpp shell/MainWindow_win32.cpp resources/app.rc)
target_include_directories(updater PRIVATE ${GENERATED_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(updater PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(updater PRIVATE updatercore ${UPDATER_DELAYED_IMPORTS})
add_dependencies(updater generated_resources delayed_imports)

# GoogleTest from Debian's sources, built with the cross compiler.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The core tests answer their boxes from a script, as natively, while files and
# folders go through the real Win32 layer.
add_library(updatercore_scripted STATIC $<TARGET_OBJECTS:updatercore_objects> services/Platform_win32.cpp
  services/PlatformHold_win32.cpp services/PlatformSha256_win32.cpp
  services/TextCodec_win32.cpp services/WidePath_win32.cpp services/ScriptedBoxes.cpp services/Registry_win32.cpp
  update/SetupDialog_script.cpp update/UpdateDialogs_script.cpp update/Elevation_script.cpp
  package/CopyProgress_none.cpp)
target_include_directories(updatercore_scripted PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(updatercore_scripted PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_compile_options(updatercore_scripted PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(updatercore_scripted PUBLIC ${MINGW_ZLIB} winmm bcrypt advapi32)

add_executable(core_tests ${UPDATER_CORE_TESTS})
target_compile_options(core_tests PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(core_tests PRIVATE updatercore_scripted gtest gtest_main)
test_program_options(core_tests)

# Tests of the Win32 layer; they carry the program's resources so that the
# dialogs and the animation come from the real templates.
file(GLOB WIN32_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(win32_tests ${WIN32_TEST_SOURCES} tests/support/PackageBuilder.cpp tests/support/DeltaStreams.cpp
  tests/support/UpdaterProcess_win32.cpp
  tests/support/TempFolder.cpp tests/support/RegistryStore.cpp tests/robot/Robot_win32.cpp resources/app.rc)
target_include_directories(win32_tests PRIVATE ${GENERATED_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(win32_tests PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(win32_tests PRIVATE updatercore version oleaut32 gtest gtest_main)
test_program_options(win32_tests)
add_dependencies(win32_tests generated_resources updater robot)

# DLLs for the planting test, each named after a library that the updater
# must only ever load from the system folder. Each forwards every export of
# Wine's library of that name to the system folder's copy and leaves a trace
# when loaded (tests/planting/). Their export lists are read from Wine's own
# libraries on the build machine.
set(PLANTED_LIBRARIES comctl32 winmm version uxtheme propsys msacm32 msvfw32)
find_path(WINE_WINDOWS_LIBRARIES winmm.dll
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
        /usr/lib64/wine/x86_64-windows /opt/wine-stable/lib64/wine/x86_64-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT WINE_WINDOWS_LIBRARIES)
  message(FATAL_ERROR "Wine's Windows libraries (winmm.dll) not found: the planting test needs their exports")
endif()
add_custom_command(
  OUTPUT ${GENERATED_DIR}/makeforwarders
  COMMAND ${HOST_CXX} -std=c++17 -O2 -o ${GENERATED_DIR}/makeforwarders ${CMAKE_SOURCE_DIR}/tests/planting/MakeForwarders.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/planting/MakeForwarders.cpp
  COMMENT "Building makeforwarders")
set(PLANTED_TARGETS)
foreach(library ${PLANTED_LIBRARIES})
  set(def ${GENERATED_DIR}/planted_${library}.def)
  add_custom_command(
    OUTPUT ${def}
    COMMAND ${GENERATED_DIR}/makeforwarders ${WINE_WINDOWS_LIBRARIES}/${library}.dll ${library} ${def}
    DEPENDS ${GENERATED_DIR}/makeforwarders ${WINE_WINDOWS_LIBRARIES}/${library}.dll
    COMMENT "Listing the exports of ${library}")
  add_library(planted_${library} SHARED tests/planting/PlantedLibrary_win32.cpp ${def})
  set_target_properties(planted_${library} PROPERTIES OUTPUT_NAME ${library} PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  target_compile_definitions(planted_${library} PRIVATE UNICODE _UNICODE)
  target_compile_options(planted_${library} PRIVATE -fno-builtin -fno-stack-protector)
  target_link_options(planted_${library} PRIVATE -nostdlib -Wl,--entry,PlantedLibraryMain)
  target_link_libraries(planted_${library} PRIVATE kernel32)
  list(APPEND PLANTED_TARGETS planted_${library})
endforeach()
add_dependencies(win32_tests ${PLANTED_TARGETS})

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()

# The robot as a program of its own, for the demo and for driving the updater
# from scripts.
add_executable(robot tests/robot/RobotMain_win32.cpp tests/robot/Robot_win32.cpp)
target_compile_definitions(robot PRIVATE UNICODE _UNICODE)
target_include_directories(robot PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(robot PRIVATE -municode)
target_compile_options(robot PRIVATE ${UPDATER_TEXT_FLAGS})
