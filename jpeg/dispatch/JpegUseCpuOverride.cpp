// The codec's processor override lives in the system registry, the same store
// the control registers itself in.
#include "JpegUseCpuOverride.h"

#include "platform/Registry.h"

long JpegReadUseCpuOverride() {
  const std::optional<long> value = platform::RegistryReadInt("Software\\Vyrdax\\JpegCodec", "USECPU");
  return value ? *value : -1;
}
