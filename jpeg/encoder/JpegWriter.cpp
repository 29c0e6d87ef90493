// The body of JpegWrite: file handling, set-up, headers and scans, and the
// resumption of an interrupted sequential write.
#include "encoder/JpegEncoder.h"

namespace {

bool IsFileType(int32_t ioType) { return (ioType & 1) == 0; }

bool CarriesImage(int32_t ioType) {
  return ioType == WRITE_IMAGE_TO_FILE || ioType == WRITE_IMAGE_TO_BUFFER ||
         ioType == WRITE_ENTROPY_TO_FILE || ioType == WRITE_ENTROPY_TO_BUFFER;
}

void CloseFile(JpegWorkState* work) {
  if (work->file != kJpegNoFile) {
    JpegFileClose(work->file);
    work->file = kJpegNoFile;
    work->stream.file = kJpegNoFile;
  }
}

}  // namespace

int32_t JpegWriteStream(JpegCoreProperties* core, int32_t ioType) {
  JPEG_PROPERTIES* props = &core->props;
  JpegWorkState* work = props->work;
  JpegRuntime* runtime = props->runtime;
  const bool resuming = work->scan != nullptr;
  if (resuming && work->scan->ioType != ioType) return -8;

  if (IsFileType(ioType) && work->file == kJpegNoFile) {
    const char* name = core->direct_properties != 0 ? props->jpeg_file : core->jpeg_file;
    work->file = JpegFileOpen(name, kJpegAccessRead | kJpegAccessWrite);
    if (work->file == kJpegNoFile) return -10;
  }

  int32_t result = 0;
  if (!resuming) {
    // A fresh write starts from an empty stream and no prepared tables.
    work->stream.start = work->stream.ptr = work->stream.end = nullptr;
    work->stream.flushedBytes = 0;
    for (bool& ready : work->quantReady) ready = false;
    for (auto& byClass : work->codesReady)
      for (bool& ready : byClass) ready = false;
    if (core->direct_properties == 0) JpegCopyCoreFields(core, props);
    result = JpegFrameSetup(props, work);
    if (result == 0) result = JpegWriteHeaders(props, work, runtime);
  }
  if (result == 0 && CarriesImage(ioType))
    result = props->progressive != 0 ? JpegEncodeProgressive(props, work, runtime)
                                     : JpegEncodeSequential(props, work, runtime);
  runtime->endKernels();

  const uint64_t produced = JpegStreamBytes(&work->stream);
  props->jpeg_size = static_cast<uint32_t>(produced);
  if (core->direct_properties == 0) core->jpeg_size = static_cast<uint32_t>(produced);

  if (result == 1 || result == 2) {
    const JpegScanState& scan = *work->scan;
    int32_t width = 8 * (scan.stoppedColumn + 1) * work->hMax;
    int32_t height = 8 * (scan.stoppedRow + 1) * work->vMax;
    if (width > static_cast<int32_t>(props->jpeg_width)) width = static_cast<int32_t>(props->jpeg_width);
    if (height > static_cast<int32_t>(props->jpeg_height)) height = static_cast<int32_t>(props->jpeg_height);
    props->progress_width = width;
    props->progress_height = height;
    return result;
  }
  if (result < 0) {
    work->scan.reset();
    CloseFile(work);
    return result;
  }
  if (work->file != kJpegNoFile) {
    const bool closed = JpegFileClose(work->file);
    work->file = kJpegNoFile;
    work->stream.file = kJpegNoFile;
    if (!closed) return -9;
  }
  return result;
}
