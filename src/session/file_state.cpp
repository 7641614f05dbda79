#include "session/file_state.h"

#include "common/text.h"
#include "session/texts.h"

namespace ambrel {

ListedFileState FileStateOf(const PartitionInfo& volume, const FoundFileNode& node) {
  ListedFileState s;
  if (!IsFileKind(KindOf(node))) return s;
  const FilePlan plan = PlanFileData(node, volume, 0, UINT64_MAX - 1);
  s.overwrite = plan.overwrite;
  s.overwrittenPercent = OverwrittenPercent(plan.takenClusters, plan.clusters);
  s.damage = plan.damage;
  s.crossLinkedWith = plan.crossLinkedWith;
  s.overwrittenBy = plan.overwrittenBy;
  s.validLength = plan.validLength;
  return s;
}

const char* OverwriteStateName(OverwriteState state) {
  switch (state) {
    case OverwriteState::kUnknown: return "";
    case OverwriteState::kIntact: return "intact";
    case OverwriteState::kPartlyOverwritten: return "partly overwritten";
    case OverwriteState::kOverwritten: return "overwritten";
  }
  return "";
}

std::string StateColumnText(const ListedFileState& s) {
  switch (s.overwrite) {
    case OverwriteState::kIntact: return "intact";
    case OverwriteState::kPartlyOverwritten: return Format("partly-overwritten(%u%%)", s.overwrittenPercent);
    case OverwriteState::kOverwritten: return "overwritten(100%)";
    case OverwriteState::kUnknown: break;
  }
  if (s.damage == DataDamage::kNotValidData) return "partial";
  if (s.damage != DataDamage::kNone) return "damaged";
  return "-";
}

std::string DamageReasonText(const ListedFileState& s) {
  switch (s.damage) {
    case DataDamage::kNone: return "";
    case DataDamage::kCrossLinked: return std::string(DamageText(s.damage)) + " with " + s.crossLinkedWith;
    case DataDamage::kNotValidData:
      return Format("%s (%llu bytes valid)", DamageText(s.damage), static_cast<unsigned long long>(s.validLength));
    case DataDamage::kOverwritten:
    case DataDamage::kPartlyOverwritten:
      return Format("%s (%u%% of its clusters in use by other files%s)", DamageText(s.damage), s.overwrittenPercent,
                    s.overwrittenBy.empty() ? "" : (", first by " + s.overwrittenBy).c_str());
    default: return DamageText(s.damage);
  }
}

}  // namespace ambrel
