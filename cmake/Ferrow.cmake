# ferrow_component(<name> SOURCES ... [DEPENDS ...])
# One static library per component, ferrow_<name>, aliased ferrow::<name>.
# Headers are included as "<name>/Header.h" from src/.
function(ferrow_component name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(ferrow_${name} STATIC ${ARG_SOURCES})
  add_library(ferrow::${name} ALIAS ferrow_${name})
  target_include_directories(ferrow_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  foreach(dep IN LISTS ARG_DEPENDS)
    target_link_libraries(ferrow_${name} PUBLIC ferrow::${dep})
  endforeach()
endfunction()

# ferrow_tests(<name> SOURCES ... [DEPENDS ...])
# One GoogleTest executable per component, <name>_tests, registered with CTest
# case by case (discovered when ctest runs, so building never runs tests).
function(ferrow_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name}_tests ${ARG_SOURCES})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  foreach(dep IN LISTS ARG_DEPENDS)
    if(TARGET ferrow::${dep})
      target_link_libraries(${name}_tests PRIVATE ferrow::${dep})
    else()
      target_link_libraries(${name}_tests PRIVATE ${dep})
    endif()
  endforeach()
  target_link_libraries(${name}_tests PRIVATE GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name}_tests PRIVATE
    FERROW_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FERROW_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
endfunction()
