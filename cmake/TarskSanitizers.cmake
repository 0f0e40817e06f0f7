# Sanitizer builds apply to every target (a sanitizer must see the whole program), so they are the
# one place where global flags are right. 'address' combines ASan and UBSan; 'thread' is TSan.
if(TARSK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(TARSK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TARSK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TARSK_SANITIZE must be empty, 'address' or 'thread', not '${TARSK_SANITIZE}'")
endif()
