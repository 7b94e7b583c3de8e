# zel_library(NAME DIR DEPS...): a static library of every .cpp in DIR (not recursive).
function(zel_library name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
  else()
    add_library(${name} INTERFACE)
  endif()
  if(srcs)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# zel_test_dir(DIR LIBS...): test executables for tests/DIR, one per label.
#   *_integration_test.cpp -> label integration (real sockets and threads)
#   *_slow_test.cpp        -> label slow
#   *_gui_test.cpp         -> label gui
#   other *_test.cpp       -> label unit
function(zel_test_dir dir)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  set(groups unit integration slow gui)
  foreach(label ${groups})
    set(files "")
    foreach(f ${all})
      get_filename_component(n ${f} NAME)
      if(n MATCHES "_integration_test\\.cpp$")
        set(l integration)
      elseif(n MATCHES "_slow_test\\.cpp$")
        set(l slow)
      elseif(n MATCHES "_gui_test\\.cpp$")
        set(l gui)
      else()
        set(l unit)
      endif()
      if(l STREQUAL label)
        list(APPEND files ${f})
      endif()
    endforeach()
    if(files)
      string(REPLACE "/" "_" tname "${dir}")
      set(exe test_${tname}_${label})
      add_executable(${exe} ${files})
      target_link_libraries(${exe} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
      gtest_discover_tests(${exe} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 60
                           DISCOVERY_MODE PRE_TEST)
      if(label STREQUAL "integration")
        # gtest_discover_tests flattens a list of labels into separate words,
        # so the second label is set by a script that ctest runs after the
        # discovered tests (and their list ${exe}_TESTS) are known.
        set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${exe}_labels.cmake)
        file(WRITE ${labels_file}
             "foreach(t IN LISTS ${exe}_TESTS)\n"
             "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"integration;threaded\")\n"
             "endforeach()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
      endif()
    endif()
  endforeach()
endfunction()
