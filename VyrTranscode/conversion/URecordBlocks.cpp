#include "conversion/URecordBlocks.h"

#include "support/uFunctionsLib.h"

size_t TStreamByteSource::ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) {
  return FStream.ReadAt(AOffset, ABuffer, ACount);
}

TOmReadItem TRecordBlockReader::Next(TOmBlock& ABlock, TOmDamage& ADamage) {
  const TOmReadItem item = FReader.Next(ABlock, ADamage);
  if (item == TOmReadItem::Damage) {
    PrintDebugString(FormatStr("Skip damaged data: offset %lld, length %lld", static_cast<long long>(ADamage.Offset),
                               static_cast<long long>(ADamage.Length)));
  }
  return item;
}
