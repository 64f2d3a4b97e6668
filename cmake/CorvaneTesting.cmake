# One GoogleTest executable per area, registered with ctest.
#   corvane_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib... [GUI [MAIN main.cpp]]
#                    [LABELS l...] [TIMEOUT s])
# GUI tests get a main() that creates a QApplication (tests/support/gui_main.cpp, or MAIN for
# tests that need an application object of their own);
# the others use gtest_main. GUI tests never run at the same time as each other.
include(GoogleTest)
find_package(GTest REQUIRED)

function(corvane_add_test)
  cmake_parse_arguments(T "GUI" "NAME;TIMEOUT;MAIN" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if(T_GUI)
    if(NOT T_MAIN)
      set(T_MAIN ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp)
    endif()
    target_sources(${T_NAME} PRIVATE ${T_MAIN})
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest Qt6::Widgets Qt6::Test ${T_LIBS})
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    CORVANE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(properties TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    # An empty LABELS value would swallow the next property's name.
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  if(T_GUI)
    # Widget tests share one X display: two at once steal each other's focus and activation.
    list(APPEND properties RESOURCE_LOCK x_display)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
endfunction()
