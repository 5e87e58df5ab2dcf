# Installs the built tree into a scratch prefix and builds a consumer with find_package and with pkg-config.
# The consumer includes every installed header and sees only the installed tree, so a public header that
# includes one that is not installed fails the build; such includes are also named before it starts.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix})

set(include_dir ${prefix}/include/zanfile)
file(GLOB_RECURSE headers RELATIVE ${include_dir} ${include_dir}/*.h)
if(NOT headers)
    message(FATAL_ERROR "no headers installed under ${include_dir}")
endif()
set(all_headers "// Generated: every installed header of zanfile.\n")
set(missing)
foreach(header IN LISTS headers)
    if(header MATCHES "(^|/)detail/")
        list(APPEND missing "${header} is internal but installed")
    endif()
    string(APPEND all_headers "#include <${header}>\n")
    file(STRINGS ${include_dir}/${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][^>\"]+/[^>\"]+[>\"]")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[^<\"]*[<\"]([^>\"]+)[>\"].*$" "\\1" included "${line}")
        get_filename_component(folder ${included} DIRECTORY)
        string(REGEX REPLACE "/.*$" "" top ${folder})
        # Only our own folders are checked; the dependencies' headers come from their packages.
        if(EXISTS ${SOURCE_DIR}/src/${top} AND NOT EXISTS ${include_dir}/${included})
            list(APPEND missing "${header} includes ${included}, which is not installed")
        endif()
    endforeach()
endforeach()
if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "installed headers are not self-contained:\n  ${text}")
endif()
file(WRITE ${WORK_DIR}/all_headers.cpp "${all_headers}")

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/packaging/consumer -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC}
    -DALL_HEADERS=${WORK_DIR}/all_headers.cpp)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
run(${WORK_DIR}/consumer/consumer_c)

file(GLOB pc_dir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs zanfile OUTPUT_VARIABLE flags RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know zanfile")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
get_filename_component(libdir ${pc_dir} DIRECTORY)
# No -std here either: the pkg-config file says which standard the headers need.
run(${CXX} ${SOURCE_DIR}/tests/packaging/consumer/main.cpp ${WORK_DIR}/all_headers.cpp ${flags}
    -Wl,-rpath,${libdir}
    -o ${WORK_DIR}/consumer_pc)
run(${WORK_DIR}/consumer_pc)

# The C interface through its own pkg-config file, linked to it alone (see consumer/CMakeLists.txt).
execute_process(COMMAND pkg-config --cflags --libs qpxreadsdk-shared OUTPUT_VARIABLE flags RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know qpxreadsdk-shared")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} -std=c99 -Wall -Wextra -Werror -pedantic ${SOURCE_DIR}/tests/packaging/consumer/consumer_c.c ${flags}
    -Wl,--enable-new-dtags -Wl,-rpath,${libdir} -o ${WORK_DIR}/consumer_c_pc)
run(${WORK_DIR}/consumer_c_pc)
