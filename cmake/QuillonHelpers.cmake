# quillon_core_library(name [LIBS ...])
#   A static library of the Qt-free core made of every .cpp of the calling folder.
function(quillon_core_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# quillon_test(name [LIBS ...] [LABELS ...])
#   One test program from every .cpp of the calling tests folder, registered with CTest.
#   Tests run with the offscreen Qt platform and the program folder in QUILLON_BIN_DIR.
function(quillon_test name)
    cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    add_executable(${name} ${sources})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        QUILLON_BIN_DIR="${QUILLON_BIN_DIR}"
        QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        QUILLON_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/tests")
    set(props TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(ARG_LABELS)
        list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
