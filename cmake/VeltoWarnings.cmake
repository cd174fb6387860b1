# Warnings for the project's own targets (not for third-party headers).
function(velto_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                             -Wconversion -Wsign-conversion -Wnull-dereference)
    if(VELTO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
