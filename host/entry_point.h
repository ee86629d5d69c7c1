// The module's single export, through which the host drives it with selectors.
#pragma once

#include <cstdint>

extern "C" __attribute__((visibility("default"))) void ENTRYPOINT(int16_t selector,
                                                                  void* parameterBlock,
                                                                  int32_t* data, int16_t* result);
