// Walks a file with the block reader, as the probe does (heads only; damage searched for the
// next block), and prints the seconds it took and what it found:
//   bench_block_reader FILE
// bench/block_reader.sh runs it against cat on the same files.
#include <chrono>
#include <cstdio>

#include "conversion/URecordBlocks.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_block_reader FILE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<TFileStream> stream = TFileStream::OpenRead(argv[1]);
  if (!stream) {
    std::fprintf(stderr, "bench_block_reader: cannot open %s\n", argv[1]);
    return 1;
  }
  TRecordBlockReader reader(*stream);
  TOmBlock block;
  TOmDamage damage;
  long long blocks = 0;
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;)
    if (item == TOmReadItem::Block) ++blocks;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.4f %lld %lld %lld\n", seconds, blocks, static_cast<long long>(reader.DamagedRegions()),
              static_cast<long long>(reader.DamagedBytes()));
  return 0;
}
