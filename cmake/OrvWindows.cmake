# Helpers of the Windows trees: fixture modules, resources, the Wine test harness.

# Windows form of a host path as Wine sees it (drive Z: maps "/").
function(orv_winpath out path)
  string(REPLACE "/" "\\" p "${path}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

set(ORV_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(ORV_FIXTURES_DIR ${CMAKE_BINARY_DIR}/fixtures)
file(MAKE_DIRECTORY ${ORV_FIXTURES_DIR})

# orv_product_module(<target>): a module of the release. Windows XP (5.1) is
# the oldest system the release runs on: the module carries the stand-in for
# the one function the compiler's thread library needs from a later system
# (src/platform/TickCount64.c), and the x86 tree's test "x86.imports" checks
# its imports against tests/static/xp_imports.txt.
function(orv_product_module target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/TickCount64.c)
  set_property(GLOBAL APPEND PROPERTY ORV_PRODUCT_MODULES ${target})
endfunction()

# orv_fixture_module(NAME <file name without extension> KIND DLL|EXE
#                    SOURCES ... [DEF file.def] [RC file.rc] [LIBS ...] [DIR subdir])
# Builds a small module into the fixtures folder. Fixtures get no static runtime
# dependency beyond system DLLs, so they load anywhere in the prefix.
function(orv_fixture_module)
  cmake_parse_arguments(F "" "NAME;KIND;DEF;RC;DIR" "SOURCES;LIBS;DEFS" ${ARGN})
  set(target fx_${F_NAME})
  if(F_DIR)
    string(MAKE_C_IDENTIFIER "${F_DIR}" dirid)
    set(target fx_${dirid}_${F_NAME})
  endif()
  if(F_KIND STREQUAL "DLL")
    add_library(${target} SHARED ${F_SOURCES} ${F_RC} ${F_DEF})
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    add_executable(${target} ${F_SOURCES} ${F_RC})
  endif()
  set(outdir ${ORV_FIXTURES_DIR})
  if(F_DIR)
    set(outdir ${ORV_FIXTURES_DIR}/${F_DIR})
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${F_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${outdir} LIBRARY_OUTPUT_DIRECTORY ${outdir}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/implib/${target})
  target_compile_options(${target} PRIVATE ${ORV_WARNINGS})
  if(F_DEFS)
    target_compile_definitions(${target} PRIVATE ${F_DEFS})
  endif()
  if(F_LIBS)
    target_link_libraries(${target} PRIVATE ${F_LIBS})
  endif()
  # Fixtures are inputs, not products: "-Wl,--kill-at" keeps stdcall exports undecorated in x86.
  if(ORV_BITS EQUAL 32)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
  add_dependencies(orv_fixtures ${target})
endfunction()

# orv_widl_tlb(<output .tlb> <idl> [header out var])
function(orv_widl_tlb tlb idl)
  get_filename_component(base ${tlb} NAME_WE)
  get_filename_component(dir ${tlb} DIRECTORY)
  add_custom_command(OUTPUT ${tlb}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${ORV_WIDL} ${ORV_WIDL_FLAGS} -t -o ${tlb} ${idl}
    DEPENDS ${idl} VERBATIM)
endfunction()

set(ORV_WIDL_FLAGS -I/usr/include/wine/wine/windows -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(ORV_BITS EQUAL 32)
  list(APPEND ORV_WIDL_FLAGS --win32)
else()
  list(APPEND ORV_WIDL_FLAGS --win64)
endif()

add_custom_target(orv_fixtures ALL)

# ---- Wine harness ----
set(ORV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
orv_winpath(ORV_WIN_BIN_DIR ${ORV_BIN_DIR})
orv_winpath(ORV_WIN_FIXTURES_DIR ${ORV_FIXTURES_DIR})
if(ORV_OTHER_FIXTURES_DIR)
  orv_winpath(ORV_WIN_OTHER_FIXTURES_DIR ${ORV_OTHER_FIXTURES_DIR})
endif()

configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(ORV_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)

# orv_wine_test(NAME <exe> SOURCES ... [LIBS ...] [LABELS label] [SERIAL] [LOCK name]
#               [ENV "K=V"] [OUTDIR dir])
# A GoogleTest executable run under wine64, one process per test case. The
# wrapper gives every case the environment ORV_BIN (where the product modules
# are), ORV_FIXTURES, ORV_OTHER_FIXTURES (fixtures of the other bitness, may be
# empty) and WINEPATH (the product folder).
function(orv_wine_test)
  cmake_parse_arguments(T "SERIAL" "NAME;OUTDIR;LOCK;TIMEOUT;LABELS;ENV" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/wine/common/WineTestMain.cpp)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/wine/common)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orvwinetest GTest::gmock GTest::gtest ole32 oleaut32 uuid shlwapi advapi32)
  target_compile_options(${T_NAME} PRIVATE ${ORV_WARNINGS})
  target_link_options(${T_NAME} PRIVATE -municode)
  if(T_OUTDIR)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${T_OUTDIR})
  endif()
  add_dependencies(${T_NAME} orv_fixtures)
  if(NOT ORV_RUN_WINE_TESTS)
    return()  # x86: compiled with the same warnings, never run here
  endif()
  # One value per property: gtest_discover_tests flattens lists. The common
  # environment (ORV_BIN, ORV_FIXTURES, ...) comes from the wine-run wrapper.
  set(props LABELS ${T_LABELS} FIXTURES_REQUIRED wineprefix)
  if(T_ENV)
    list(APPEND props ENVIRONMENT ${T_ENV})
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  if(T_TIMEOUT)
    list(APPEND props TIMEOUT ${T_TIMEOUT})
  else()
    list(APPEND props TIMEOUT 120)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "${T_NAME}." PROPERTIES ${props})
endfunction()
