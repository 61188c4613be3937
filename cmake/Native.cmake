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

if(EXISTS ${CMAKE_SOURCE_DIR}/resources/MakeAvi.cpp)
  add_executable(makeavi resources/MakeAvi.cpp)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
