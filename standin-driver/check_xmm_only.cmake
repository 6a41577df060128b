# Fails when the driver image holds an instruction on ymm or zmm registers:
# kernel code may touch them only after saving the interrupted thread's
# extended state, which the driver does not do.
# Called with -DOBJDUMP=<objdump> -DIMAGE=<velmorcrypt.sys>.
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${IMAGE} OUTPUT_VARIABLE listing
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "[^\n]*%[yz]mm[0-9]+[^\n]*" wide "${listing}")
if(wide)
  message(FATAL_ERROR "${IMAGE} uses the wide vector registers: ${wide}")
endif()
