# The native build: the portable core, the makers' tool, the native tests and
# the benchmarks.
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)

add_library(updatercore STATIC ${UPDATER_CORE_SOURCES} ${UPDATER_POSIX_SOURCES})
target_include_directories(updatercore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(updatercore PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(updatercore PUBLIC ZLIB::ZLIB)

add_executable(core_tests ${UPDATER_CORE_TESTS})
target_compile_options(core_tests PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(core_tests PRIVATE updatercore GTest::gtest GTest::gtest_main)
add_test(NAME core_tests COMMAND core_tests)

# The copy animation's generator, and a test that reads what it generates.
add_executable(makeavi resources/MakeAvi.cpp)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/filecopy.avi
  COMMAND makeavi ${CMAKE_BINARY_DIR}/filecopy.avi
  DEPENDS makeavi
  COMMENT "Generating the copy animation")
add_custom_target(filecopy_avi ALL DEPENDS ${CMAKE_BINARY_DIR}/filecopy.avi)
add_executable(avi_tests tests/resources/AviTest.cpp)
target_link_libraries(avi_tests PRIVATE GTest::gtest GTest::gtest_main)
add_dependencies(avi_tests filecopy_avi)
add_test(NAME avi_tests COMMAND avi_tests)
set_tests_properties(avi_tests PROPERTIES ENVIRONMENT "UPDATER_AVI=${CMAKE_BINARY_DIR}/filecopy.avi")

# The program icon's generator, and a test that reads what it generates.
add_executable(makeicon resources/MakeIcon.cpp)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/app.ico
  COMMAND makeicon ${CMAKE_BINARY_DIR}/app.ico
  DEPENDS makeicon
  COMMENT "Generating the program icon")
add_custom_target(app_ico ALL DEPENDS ${CMAKE_BINARY_DIR}/app.ico)
add_executable(icon_tests tests/resources/IconTest.cpp)
target_link_libraries(icon_tests PRIVATE GTest::gtest GTest::gtest_main)
add_dependencies(icon_tests app_ico)
add_test(NAME icon_tests COMMAND icon_tests)
set_tests_properties(icon_tests PROPERTIES ENVIRONMENT "UPDATER_ICON=${CMAKE_BINARY_DIR}/app.ico")

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
