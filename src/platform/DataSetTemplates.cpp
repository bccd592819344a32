#include "platform/DataSetTemplates.h"

#include <cctype>

namespace fm {

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// One range of forms. The comment's size is the longest comment a clerk types; a stamped
// comment (user and time appended) may run past it, so sizes are never enforced.
// ROW_VERSION is the server's version of a stored range; the message component fills it in
// the "UPD" rows of a save from the latest search, so the screen never writes it.
std::vector<FieldDef> TroopFormFields() {
  return {
      {"TRP_ID", FieldType::Text, 1},           {"TRP_DIST_ID", FieldType::Text, 2},
      {"FORM_TYP_CD", FieldType::Text, 1},      {"FORM_TYP_DESC", FieldType::Text, 60},
      {"FRM_FORM_NBR", FieldType::Integer, 0},  {"TO_FORM_NBR", FieldType::Integer, 0},
      {"ASGND_REG_NBR", FieldType::Integer, 0}, {"TRP_ACTN_CD", FieldType::Text, 1},
      {"RMNG_FORM_CNT", FieldType::Integer, 0}, {"FORM_QTR_DT", FieldType::Integer, 0},
      {"FORM_YR_DT", FieldType::Integer, 0},    {"TRP_FORM_CMMT_TXT", FieldType::Text, 254},
      {"ACTION", FieldType::Text, 3},           {"ROW_VERSION", FieldType::Integer, 0},
  };
}

// One trooper. Dates are ISO texts (YYYY-MM-DD), as the local database's date() writes them.
std::vector<FieldDef> OfficerFields() {
  return {
      {"DIST_ID", FieldType::Text, 1},
      {"SUB_DIST_ID", FieldType::Text, 2},
      {"INSP_ID", FieldType::Integer, 0},
      {"INSP_DUTY_STRT_DT", FieldType::Text, 10},
      {"INSP_DUTY_END_DT", FieldType::Text, 10},
      {"INSP_ASSN_DT_UPDT", FieldType::Text, 10},
      {"INSP_NME_LST", FieldType::Text, 30},
      {"INSP_NME_FRST", FieldType::Text, 30},
      {"INSP_NME_MDL_INT", FieldType::Text, 1},
      {"USR_RACF_ID", FieldType::Text, 8},
      {"ACTION", FieldType::Text, 4},
  };
}

}  // namespace

std::optional<std::vector<FieldDef>> TemplateFields(std::string_view name) {
  if (SameNameIgnoringCase(name, kTroopFormTemplate)) return TroopFormFields();
  if (SameNameIgnoringCase(name, kOfficerTemplate)) return OfficerFields();
  return std::nullopt;
}

}  // namespace fm
