#include "engine/write/StreamPlan.h"

namespace kilnor {

bool StreamPlanIsConsistent(const TStreamPlan& Plan) {
  std::uint64_t sector = 0;
  for (const TStreamItem& item : Plan.Items) {
    if (item.Sector != sector) return false;
    sector += SectorsOf(item.Size);
  }
  const std::uint64_t closing = Plan.FinishLastSector ? 1 : 0;
  return Plan.TotalSectors % kPacketSectors == 0 && sector + closing <= Plan.TotalSectors &&
         Plan.TotalSectors - sector - closing < kPacketSectors;
}

}  // namespace kilnor
