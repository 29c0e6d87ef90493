// Processor identification and the choice of processor type.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dispatch/JpegRuntime.h"
#include "dispatch/JpegUseCpuOverride.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

void ReadCpuId(JpegCpuInfo* info) {
  std::memset(info, 0, sizeof(*info));
  std::memset(info->vendor, ' ', 12);
#if defined(__i386__) || defined(__x86_64__)
  unsigned int a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d) == 0) return;
  std::memcpy(info->vendor + 0, &b, 4);
  std::memcpy(info->vendor + 4, &d, 4);
  std::memcpy(info->vendor + 8, &c, 4);
  if (a < 1) return;
  __get_cpuid(1, &a, &b, &c, &d);
  info->brandIndex = b & 0xFF;
  info->type = (a >> 12) & 0x3;
  info->family = (a >> 8) & 0xF;  // the extended family is not used
  info->model = (a >> 4) & 0xF;
  info->stepping = a & 0xF;
  info->features = d;
#endif
}

const JpegCpuInfo& JpegGetCpuInfo() {
  static JpegCpuInfo info;
  static std::once_flag once;
  std::call_once(once, [] { ReadCpuId(&info); });
  return info;
}

int JpegCpuTypeFromInfo(const JpegCpuInfo& info) {
  const bool mmx = (info.features & kCpuFeatureMmx) != 0;
  const bool sse = (info.features & kCpuFeatureSse) != 0;
  const bool sse2 = (info.features & kCpuFeatureSse2) != 0;
  switch (info.family) {
    case 5:
      return mmx ? 3 : 1;
    case 6:
      if (mmx && !sse) return 4;
      if (mmx && sse) return 5;
      return 2;
    case 15:
      return sse2 ? 6 : 0;
    default:
      return 0;
  }
}

int JpegReadCpuOverride(JpegRuntime*) {
  // Tests force a type without touching the registry.
  const char* forced = std::getenv("VYR_JPEG_CPU");
  if (forced != nullptr && forced[0] != '\0') {
    char* end = nullptr;
    const long value = std::strtol(forced, &end, 10);
    if (*end == '\0' && value >= 0 && value <= 6) return static_cast<int>(value);
  }
  const long value = JpegReadUseCpuOverride();
  if (value >= 0 && value <= 6) return static_cast<int>(value);
  return -1;
}

int JpegDetectCpu(JpegRuntime* runtime) {
  const JpegCpuInfo& info = JpegGetCpuInfo();
  const int forced = JpegReadCpuOverride(runtime);
  if (forced >= 0) return forced;
  return JpegCpuTypeFromInfo(info);
}
