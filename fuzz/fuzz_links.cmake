# What each fuzz target (fuzz/<name>_fuzz.cpp) links: the layer whose code it drives, and so
# the layers below it, never more. Its libFuzzer program and its corpus replay in the tests
# both take this list.
set(MOX_FUZZ_LINKS
    arrange=mox_merge
    block_table=mox_info
    model_check=mox_diff
    mox_file=mox_info
    view_points=kiv_mox)

# The libraries of fuzz target name into out.
function(mox_fuzz_links name out)
  foreach(entry ${MOX_FUZZ_LINKS})
    string(REPLACE "=" ";" parts ${entry})
    list(GET parts 0 target)
    if(target STREQUAL name)
      list(GET parts 1 library)
      set(${out} ${library} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "fuzz/${name}_fuzz.cpp: name its library in fuzz/fuzz_links.cmake")
endfunction()
