# The native build: the portable core, the makers' tool, the native tests and
# the benchmarks.
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(GTest REQUIRED)

add_library(updatercore STATIC ${UPDATER_CORE_SOURCES} ${UPDATER_POSIX_SOURCES})
target_include_directories(updatercore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(updatercore PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(updatercore PUBLIC ZLIB::ZLIB OpenSSL::Crypto)

if(UPDATER_THREAD_SANITIZE)
  add_executable(core_tests ${UPDATER_THREADED_CORE_TESTS})
else()
  add_executable(core_tests ${UPDATER_CORE_TESTS})
endif()
target_compile_options(core_tests PRIVATE ${UPDATER_TEXT_FLAGS})
target_link_libraries(core_tests PRIVATE updatercore GTest::gtest GTest::gtest_main)
test_program_options(core_tests)
add_test(NAME core_tests COMMAND core_tests)

# A binary resource's generator, what it generates, and the test that reads
# it, told where the file is by an environment variable.
function(add_generated_resource generator source output test testSource variable)
  add_executable(${generator} ${source})
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/${output}
    COMMAND ${generator} ${CMAKE_BINARY_DIR}/${output}
    DEPENDS ${generator}
    COMMENT "Generating ${output}")
  add_custom_target(${generator}_output ALL DEPENDS ${CMAKE_BINARY_DIR}/${output})
  add_executable(${test} ${testSource})
  target_link_libraries(${test} PRIVATE GTest::gtest GTest::gtest_main)
  add_dependencies(${test} ${generator}_output)
  add_test(NAME ${test} COMMAND ${test})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${variable}=${CMAKE_BINARY_DIR}/${output}")
endfunction()

add_generated_resource(makeavi resources/MakeAvi.cpp filecopy.avi avi_tests tests/resources/AviTest.cpp UPDATER_AVI)
add_generated_resource(makeicon resources/MakeIcon.cpp app.ico icon_tests tests/resources/IconTest.cpp UPDATER_ICON)

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
