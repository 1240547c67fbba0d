# Shared compile settings for every Loomwatch target.
add_library(loomwatch_options INTERFACE)
target_compile_options(loomwatch_options INTERFACE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
if(LOOMWATCH_WERROR)
    target_compile_options(loomwatch_options INTERFACE -Werror)
endif()
target_include_directories(loomwatch_options INTERFACE ${PROJECT_SOURCE_DIR})

if(LOOMWATCH_SANITIZE)
    add_compile_options(-fsanitize=${LOOMWATCH_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${LOOMWATCH_SANITIZE})
endif()

# loomwatch_layer(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# Builds one layer as the static library loomwatch_<name> with the alias loomwatch::<name>.
function(loomwatch_layer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(loomwatch_${name} STATIC ${ARG_SOURCES})
    add_library(loomwatch::${name} ALIAS loomwatch_${name})
    target_link_libraries(loomwatch_${name} PUBLIC loomwatch_options ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# loomwatch_test(<name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [ENVIRONMENT ...])
# One GoogleTest executable, registered as one CTest test that runs in a fixed non-UTC
# time zone and locale so that day boundaries and currency text are really exercised.
function(loomwatch_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE loomwatch_options ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "TZ=Europe/Berlin;LANG=en_US.UTF-8;LC_ALL=en_US.UTF-8;LOOMWATCH_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;${ARG_ENVIRONMENT}")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
