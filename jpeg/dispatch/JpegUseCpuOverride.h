#pragma once

// The "USECPU" value under "Software\Vyrdax\JpegCodec" of the system registry,
// or -1 when it is missing or not a number.
long JpegReadUseCpuOverride();
