# Arrows never run back up: a file of a room that includes a header of a room above it fails the build. Every file
# checked is a dependency of the configuration, so an edit that adds such an include is caught at the next build.
# Also a script, for its test: cmake -DROOT=folder -P cmake/layers.cmake checks the rooms under folder.

function(tamberly_forbid_includes root folder)
    file(GLOB_RECURSE files ${root}/${folder}/*.h ${root}/${folder}/*.cpp)
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${files})
    endif()
    list(JOIN ARGN "|" above)
    foreach(file IN LISTS files)
        file(STRINGS ${file} upward REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](${above})/")
        if(upward)
            file(RELATIVE_PATH name ${root} ${file})
            list(JOIN upward "; " upward)
            message(FATAL_ERROR "${name} reaches up out of ${folder}/: ${upward}")
        endif()
    endforeach()
endfunction()

# From the bottom up: text helpers, the core's types, the ports (which speak the core's types) and their OS
# implementations, networking, the commands, and the front ends on top.
function(tamberly_check_layers root)
    tamberly_forbid_includes(${root} text core platform net commands check app app_win32)
    tamberly_forbid_includes(${root} core platform net commands check app app_win32)
    tamberly_forbid_includes(${root} platform net commands check app app_win32)
    tamberly_forbid_includes(${root} net platform/linux platform/windows commands check app app_win32)
    tamberly_forbid_includes(${root} commands platform/linux platform/windows check app app_win32)
    tamberly_forbid_includes(${root} check app app_win32)
    tamberly_forbid_includes(${root} app app_win32 platform/windows)
    tamberly_forbid_includes(${root} app_win32 app platform/linux)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ROOT)
    tamberly_check_layers(${ROOT})
endif()
