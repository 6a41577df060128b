# Fails when the freestanding objects need anything beyond each other and
# the mem* functions that every kernel offers, or carry static constructors.
# Called with -DOBJECTS=<;-list> -DNM=<nm> -DOBJDUMP=<objdump>.
set(allowed memcpy memmove memset memcmp)
set(defined "")
set(undefined "")
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${NM} --defined-only -j ${object} OUTPUT_VARIABLE out
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" names "${out}")
  list(APPEND defined ${names})
  execute_process(COMMAND ${NM} -u -j ${object} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" names "${out}")
  list(APPEND undefined ${names})
  execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections
                  COMMAND_ERROR_IS_FATAL ANY)
  if(sections MATCHES "\\.ctors|\\.init_array")
    message(FATAL_ERROR "${object} has static constructors; the kernel would never run them")
  endif()
endforeach()
list(REMOVE_DUPLICATES undefined)
list(REMOVE_ITEM undefined "" ${defined} ${allowed})
if(undefined)
  message(FATAL_ERROR "Freestanding code refers to: ${undefined}")
endif()
