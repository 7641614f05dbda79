// Fixed facts of the NTFS on-disk layout that the reader relies on. The
// FILE record size is the volume's own (boot byte 0x40, see ntfs_geometry.h):
// 1024 bytes on most volumes, 4096 on volumes made for 4 KiB sectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ambrel {

// The update sequence protects every 512-byte block of a record, whatever
// the volume's sector size: a 4096-byte record carries 8 entries.
inline constexpr std::size_t kUpdateSequenceStride = 512;
inline constexpr std::uint32_t kMaxMftRecordNumber = 0x1FFFFF;
inline constexpr std::uint32_t kRootRecord = 5;        // the root folder "."
inline constexpr std::uint32_t kFirstUserRecord = 16;  // 0..15 are reserved for system files
// The walk never goes past this many records, whatever the run lengths say.
inline constexpr std::uint32_t kMaxWalkedRecords = 0x200000;
// Bulk reads: 8192 sectors (4 MiB) at a time into one buffer.
inline constexpr std::uint32_t kBulkReadSectors = 8192;

// Record header.
inline constexpr std::size_t kRecordUpdateSequenceOffset = 0x04;
inline constexpr std::size_t kRecordUpdateSequenceCount = 0x06;
inline constexpr std::size_t kRecordFirstAttribute = 0x14;
inline constexpr std::size_t kRecordAllocatedSize = 0x1C;
inline constexpr std::size_t kRecordBaseReference = 0x20;  // 48-bit record number, 16-bit sequence
inline constexpr std::size_t kRecordFlags = 0x16;
inline constexpr std::size_t kRecordNumber = 0x2C;
inline constexpr std::uint16_t kRecordInUse = 0x1;
inline constexpr std::uint16_t kRecordDirectory = 0x2;

// Attribute types.
inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrVolumeName = 0x60;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Attribute header.
inline constexpr std::size_t kAttrHeaderBytes = 16;
inline constexpr std::size_t kAttrLength = 0x04;
inline constexpr std::size_t kAttrNonResident = 0x08;
inline constexpr std::size_t kAttrNameLength = 0x09;
inline constexpr std::size_t kAttrValueLength = 0x10;
inline constexpr std::size_t kAttrValueOffset = 0x14;
inline constexpr std::size_t kAttrStartVcn = 0x10;
inline constexpr std::size_t kAttrRunListOffset = 0x20;
inline constexpr std::size_t kAttrRealSize = 0x30;
inline constexpr std::size_t kAttrFlags = 0x0C;
inline constexpr std::size_t kAttrCompressionUnit = 0x22;
inline constexpr std::uint16_t kAttrFlagCompressionMask = 0x00FF;
inline constexpr std::uint16_t kAttrFlagLznt1 = 0x0001;
inline constexpr std::uint16_t kAttrFlagEncrypted = 0x4000;
// Compression units above 2^6 clusters do not occur; 4 (16 clusters) is usual.
inline constexpr std::uint8_t kMaxCompressionUnitShift = 6;
// $STANDARD_INFORMATION file attribute of an EFS-encrypted file.
inline constexpr std::uint32_t kDosEncrypted = 0x4000;

// $FILE_NAME value.
inline constexpr std::size_t kFileNameParent = 0x00;
inline constexpr std::size_t kFileNameLength = 0x40;
inline constexpr std::size_t kFileNameSpace = 0x41;
inline constexpr std::size_t kFileNameText = 0x42;
enum FileNameSpace : std::uint8_t { kNameSpacePosix = 0, kNameSpaceWin32 = 1, kNameSpaceDos = 2,
                                    kNameSpaceWin32AndDos = 3 };

// A resident $DATA value larger than the record less this many bytes
// (768 of a 1024-byte record) is listed with size 0: no record holds it.
inline constexpr std::uint32_t kResidentHeadroomBytes = 256;

// Boot sector fields.
inline constexpr std::size_t kBootSectorsPerCluster = 13;
inline constexpr std::size_t kBootMftCluster = 48;
inline constexpr std::size_t kBootMirrorCluster = 56;
inline constexpr std::size_t kBootMftRecordSize = 64;
inline constexpr std::size_t kBootIndexRecordSize = 68;
inline constexpr std::size_t kBootSerial = 72;

// Well-known record numbers.
inline constexpr std::uint32_t kMftRecordVolume = 3;
inline constexpr std::uint32_t kMftRecordBitmap = 6;

}  // namespace ambrel
