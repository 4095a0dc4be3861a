# kv_library(name folder [DEPS ...] [EXCLUDE file ...])
# One static library per source folder: every .cpp/.c file directly in the
# folder belongs to it, so adding a file needs no edit here. A folder with no
# sources yet gives an interface library, so dependants link either way.
function(kv_library name folder)
  cmake_parse_arguments(KV "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.c)
  foreach(ex IN LISTS KV_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/${ex})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${KV_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${name} INTERFACE ${KV_DEPS})
  endif()
endfunction()

# kv_test_dir(folder DEPS libs...)
# Test sources in tests/<folder>: *_test.cpp form one unit executable,
# *_guitest.cpp one executable that needs a display (offscreen driver),
# *_slowtest.cpp one executable labelled slow. The folder's support/*.cpp
# helpers are compiled once and shared by its executables, and every test
# source reuses one precompiled header of GoogleTest and the standard
# library (kv_test_pch). Unit executables belong to kv_unit_tests, the
# target the sanitizer builds make.
set(KV_TEST_PCH_WARNINGS -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
function(kv_test_dir folder)
  cmake_parse_arguments(KV "" "" "DEPS" ${ARGN})
  string(REPLACE "/" "_" stem ${folder})
  set(defs KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support/*.cpp)
  set(helper_lib "")
  if(helpers)
    set(helper_lib test_${stem}_support)
    add_library(${helper_lib} OBJECT ${helpers})
    target_link_libraries(${helper_lib} PUBLIC ${KV_DEPS} kv_testsupport GTest::gtest GTest::gmock)
    target_compile_definitions(${helper_lib} PRIVATE ${defs})
  endif()
  foreach(kind unit gui slow)
    if(kind STREQUAL "unit")
      set(pattern "*_test.cpp")
    elseif(kind STREQUAL "gui")
      set(pattern "*_guitest.cpp")
    else()
      set(pattern "*_slowtest.cpp")
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/${pattern})
    if(NOT sources)
      continue()
    endif()
    set(exe test_${stem}_${kind})
    add_executable(${exe} ${sources})
    if(helper_lib)
      target_sources(${exe} PRIVATE $<TARGET_OBJECTS:${helper_lib}>)
    endif()
    target_link_libraries(${exe} PRIVATE ${KV_DEPS} kv_testsupport GTest::gtest_main GTest::gmock)
    target_compile_definitions(${exe} PRIVATE ${defs})
    target_precompile_headers(${exe} REUSE_FROM kv_test_pch)
    # Through a precompiled header GCC 12 no longer treats the standard
    # headers as system headers, and its known false -Warray-bounds and
    # -Wstringop-* reports on inlined string concatenation then surface in
    # every test that builds a path with std::string + "...".
    target_compile_options(${exe} PRIVATE ${KV_TEST_PCH_WARNINGS})
    if(kind STREQUAL "unit")
      add_dependencies(kv_unit_tests ${exe})
    endif()
    set(env "KV_SOURCE_DIR=${PROJECT_SOURCE_DIR};KV_BINARY_DIR=${PROJECT_BINARY_DIR}")
    if(kind STREQUAL "gui")
      list(APPEND env "SDL_VIDEODRIVER=offscreen")
    endif()
    set(timeout 300)
    if(kind STREQUAL "slow")
      set(timeout 1200)
    endif()
    gtest_discover_tests(${exe}
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${kind} ENVIRONMENT "${env}" TIMEOUT ${timeout})
  endforeach()
endfunction()
