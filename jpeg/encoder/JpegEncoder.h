// Encoder stages behind JpegWrite: set-up, tables, marker segments and the
// sequential and progressive scan encoders.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegCodec.h"
#include "JpegWorkState.h"

// Set-up (frame geometry, default tables, quantisation and Huffman tables).
int32_t JpegFrameSetup(JPEG_PROPERTIES* props, JpegWorkState* work);
int32_t JpegSetDefaultTables(JPEG_PROPERTIES* props, JpegWorkState* work);
void JpegScaleQuantTable(int32_t quality, const uint8_t base[64], uint16_t steps[64]);
// In place: steps in zigzag order become reciprocals in natural order.
void JpegPrepareQuantReciprocals(uint16_t table[64]);
void PrepareQuantReciprocalsExact(uint16_t table[64]);
// Scales and prepares every quantisation table and derives the Huffman codes;
// writes DQT and (sequential) DHT segments when writeSegments is set.
int32_t JpegWriteTables(JPEG_PROPERTIES* props, JpegWorkState* work, bool writeSegments);
int32_t JpegSetupProgressiveScans(const JpegWorkState* work, uint32_t jpegColor,
                                  std::vector<JpegProgressiveScan>* scans);

// Marker segments, each handed whole to the stream's writer.
int32_t JpegWriteMarker(JpegOutputStream* stream, uint8_t code);  // SOI, EOI
int32_t JpegWriteAPP0(JpegOutputStream* stream, const JPEG_PROPERTIES* props);
int32_t JpegWriteAPP14(JpegOutputStream* stream, const JPEG_PROPERTIES* props, uint8_t transform);
int32_t JpegWriteComment(JpegOutputStream* stream, JPEG_PROPERTIES* props);
int32_t JpegWriteDQT(JpegOutputStream* stream, int number, const uint16_t steps[64]);
int32_t JpegWriteDHTAll(JpegOutputStream* stream, const JpegWorkState* work);
int32_t JpegWriteDHT(JpegOutputStream* stream, int tableClass, int number, const uint8_t bits[16],
                     const uint8_t* values, int valueCount);
int32_t JpegWriteSOF(JpegOutputStream* stream, const JpegWorkState* work, bool progressive);
int32_t JpegWriteDRI(JpegOutputStream* stream, uint32_t interval);
int32_t JpegWriteSOS(JpegOutputStream* stream, const JpegWorkState* work);
int32_t JpegWriteProgressiveSOS(JpegOutputStream* stream, const JpegWorkState* work,
                                const JpegProgressiveScan& scan);
int32_t JpegWriteRST(JpegOutputStream* stream, int number);

int32_t JpegWriteHeaders(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime);
int32_t JpegEncodeSequential(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime);
int32_t JpegEncodeProgressive(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime);

// The whole write: set-up unless resuming, headers, scans, and file handling.
int32_t JpegWriteStream(JpegCoreProperties* properties, int32_t ioType);
