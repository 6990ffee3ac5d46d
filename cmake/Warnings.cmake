# One interface target carries the project's warning and sanitizer flags, so
# every library, executable and test gets the same ones.
add_library(tallowdesk_warnings INTERFACE)
target_compile_options(tallowdesk_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wcast-qual -Woverloaded-virtual -Wnon-virtual-dtor
  -Wold-style-cast)
if(TALLOWDESK_WERROR)
  target_compile_options(tallowdesk_warnings INTERFACE -Werror)
endif()

if(TALLOWDESK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
