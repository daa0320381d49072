# Our engine library for libobs 29: it adds the divisor-taking raw-video entry
# point in front of `engine` (the system's libobs, or a fake engine in the tests).
function(kalto_compat_library target output_dir engine)
    add_library(${target} SHARED ${PROJECT_SOURCE_DIR}/linux/compat/raw_video_compat.cpp)
    set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
        LIBRARY_OUTPUT_DIRECTORY ${output_dir})
    target_include_directories(${target} SYSTEM PRIVATE ${LIBOBS_INCLUDE_DIR})
    # The engine must stay a dependency even though few of its symbols are used here.
    target_link_options(${target} PRIVATE -Wl,--no-as-needed)
    target_link_libraries(${target} PRIVATE ${engine} ${CMAKE_DL_LIBS})
    kalto_warnings(${target})
endfunction()
