# quillon_headers(target [PUBLIC|PRIVATE])
#   Gives the target the headers of the calling folder, spelled "folder/File.h" as everywhere in
#   the tree, and nothing else of the tree: its include root build/include/<target>/ holds one
#   symbolic link, named after the folder, to that folder. A consumer sees the headers of what it
#   links and no more, so an include that goes up a layer does not compile. Default PUBLIC.
function(quillon_headers target)
    set(scope PUBLIC)
    if(ARGC GREATER 1)
        set(scope ${ARGV1})
    endif()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set(root ${PROJECT_BINARY_DIR}/include/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} ${scope} ${root})
endfunction()

# quillon_library(name [SHARED] SOURCES file... [LIBS target...] [PRIVATE_LIBS target...])
#   A library of the calling folder (static unless SHARED) made of the listed sources, with the
#   folder's headers as its public headers (quillon_headers) and the alias consumers link:
#   Quillon::<name without the quillon_ prefix> (quillon_comm is Quillon::comm).
function(quillon_library name)
    cmake_parse_arguments(ARG "SHARED" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    if(NOT ARG_SOURCES OR ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "quillon_library(${name}): SOURCES missing or unknown arguments "
                            "'${ARG_UNPARSED_ARGUMENTS}'")
    endif()
    set(kind STATIC)
    if(ARG_SHARED)
        set(kind SHARED)
    endif()
    add_library(${name} ${kind} ${ARG_SOURCES})
    string(REGEX REPLACE "^quillon_" "" short ${name})
    add_library(Quillon::${short} ALIAS ${name})
    quillon_headers(${name})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# quillon_check_sources(folder...)
#   Fails the configure step when a .cpp or .c file of the folders (and their subfolders) belongs
#   to no target, so a source list that misses a new file is an error rather than a file never
#   built. Call it after the folders have been added.
function(quillon_check_sources)
    foreach(dir ${ARGN})
        get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
        set(listed "")
        foreach(target ${targets})
            get_target_property(sources ${target} SOURCES)
            get_target_property(target_dir ${target} SOURCE_DIR)
            foreach(source ${sources})
                get_filename_component(source ${source} ABSOLUTE BASE_DIR ${target_dir})
                list(APPEND listed ${source})
            endforeach()
        endforeach()
        file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
        foreach(file ${files})
            if(NOT file IN_LIST listed)
                message(FATAL_ERROR "${file} is in no target: add it to the source list of "
                                    "${dir}/CMakeLists.txt")
            endif()
        endforeach()
        get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
        if(subdirs)
            quillon_check_sources(${subdirs})
        endif()
    endforeach()
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
    target_link_libraries(${name} PRIVATE Quillon::test_support)
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

# quillon_embed_version(target [COPYRIGHT text])
#   Gives the target an ELF section ".quillon_version" of its own holding its version
#   (major.minor.build.revision of the project version) and its named strings, read from the
#   file by nsGen::FileVerInfo (platform/FileVerInfo.h) without loading it.
function(quillon_embed_version target)
    cmake_parse_arguments(ARG "" "COPYRIGHT" "" ${ARGN})
    if(NOT ARG_COPYRIGHT)
        set(ARG_COPYRIGHT "Copyright (C) 2026 Quillon developers")
    endif()
    foreach(part MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            set(v_${part} 0)
        else()
            set(v_${part} ${PROJECT_VERSION_${part}})
        endif()
    endforeach()
    string(REPLACE "\\" "\\\\" copyright "${ARG_COPYRIGHT}")
    string(REPLACE "\"" "\\\"" copyright "${copyright}")
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.c)
    file(CONFIGURE OUTPUT ${out} CONTENT "\
/* Generated by quillon_embed_version: the version block of ${target}. */
__attribute__((section(\".quillon_version\"), used, aligned(8)))
static const char quillon_version_block[] =
    \"QUILLON-VERSION-1\\n\"
    \"FileVersion=${v_MAJOR}.${v_MINOR}.${v_PATCH}.${v_TWEAK}\\n\"
    \"Translation=040904b0\\n\"
    \"LegalCopyright=${copyright}\\n\"
    \"ProductName=Quillon\\n\"
    \"OriginalFilename=${target}\\n\";
")
    target_sources(${target} PRIVATE ${out})
endfunction()

# The application id: the names of the desktop entry, the AppStream metainfo and the icon, and
# Qt's desktop file name of the program.
set(QUILLON_APP_ID org.quillon.Quillon)

# The installed program folder (relative to the install prefix; /usr/lib/quillon in the Debian
# package) and the folder of the commands on the PATH.
set(QUILLON_INSTALL_DIR lib/quillon)
set(QUILLON_INSTALL_BIN_DIR bin)

# quillon_install_program(target [COMMAND name])
#   Installs an executable into the program folder and puts a command on the PATH for it: a
#   relative symbolic link bin/<name> (default: the target name in lower case) to the program.
#   The program finds its folder, libraries and plug-ins through /proc/self/exe and $ORIGIN, so
#   the link works from anywhere. Calling it again for the same target does nothing, so a tool's
#   own CMakeLists may call it as well as the top level.
function(quillon_install_program target)
    cmake_parse_arguments(ARG "" "COMMAND" "" ${ARGN})
    get_property(done GLOBAL PROPERTY QUILLON_INSTALLED_PROGRAMS)
    if(target IN_LIST done)
        return()
    endif()
    set_property(GLOBAL APPEND PROPERTY QUILLON_INSTALLED_PROGRAMS ${target})
    if(NOT ARG_COMMAND)
        string(TOLOWER ${target} ARG_COMMAND)
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${QUILLON_INSTALL_DIR} COMPONENT quillon)
    file(RELATIVE_PATH to_folder /${QUILLON_INSTALL_BIN_DIR} /${QUILLON_INSTALL_DIR})
    set(link ${CMAKE_BINARY_DIR}/install-links/${ARG_COMMAND})
    file(GENERATE OUTPUT ${link}.target CONTENT "${to_folder}/$<TARGET_FILE_NAME:${target}>")
    install(CODE "
        file(READ \"${link}.target\" to)
        set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUILLON_INSTALL_BIN_DIR}\")
        file(MAKE_DIRECTORY \"\${dir}\")
        file(REMOVE \"\${dir}/${ARG_COMMAND}\")
        file(CREATE_LINK \"\${to}\" \"\${dir}/${ARG_COMMAND}\" SYMBOLIC)
        message(STATUS \"Installing: \${dir}/${ARG_COMMAND} -> \${to}\")
    " COMPONENT quillon)
endfunction()
