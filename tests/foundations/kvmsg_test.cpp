// Message tables: the binding rows, table completeness, and the choice of
// language for msSystem from the default locale.
#include <gtest/gtest.h>

#include <QLocale>
#include <QString>
#include <set>

#include "korvane/foundations/kvmsg.h"

using namespace korvane;

namespace {

// Sets the default locale for one test and restores the previous one.
class DefaultLocale {
 public:
  explicit DefaultLocale(const QLocale& l) : saved_(QLocale()) { QLocale::setDefault(l); }
  ~DefaultLocale() { QLocale::setDefault(saved_); }

 private:
  QLocale saved_;
};

}  // namespace

struct LangCase {
  TMsgLanguage lang;
  const char *preview, *colors, *advanced, *ok, *cancel;
};
class KvmsgLanguages : public ::testing::TestWithParam<LangCase> {};

TEST_P(KvmsgLanguages, FixedRows) {
  const LangCase& c = GetParam();
  EXPECT_EQ(kvmsg(KVMSG_PREVIEW, c.lang), c.preview);
  EXPECT_EQ(kvmsg(KVMSG_COLORS, c.lang), c.colors);
  EXPECT_EQ(kvmsg(KVMSG_ADVANCED, c.lang), c.advanced);
  EXPECT_EQ(kvmsg(KVMSG_OK, c.lang), c.ok);
  EXPECT_EQ(kvmsg(KVMSG_CANCEL, c.lang), c.cancel);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, KvmsgLanguages,
    ::testing::Values(LangCase{msEnglish, "Preview", "Colors", "Advanced", "OK", "Cancel"},
                      LangCase{msItalian, "Anteprima", "Colori", "Avanzate", "OK", "Annulla"},
                      LangCase{msGerman, "Vorschau", "Farben", "Fortgeschritten", "OK", "Abbrechen"},
                      LangCase{msSpanish, "Vista Previa", "Colores", "Avanzados", "Aceptar", "Cancelar"},
                      LangCase{msFrench, "Prévisualisation", "Couleurs", "Avanzados", "Ok", "Annuler"},
                      LangCase{msPortuguese, "Pré-Visualização", "Cores", "Avançados", "OK", "Cancelar"}));

TEST(Kvmsg, EveryMessageHasSixValidTexts) {
  auto table = KVMsgTable();
  ASSERT_EQ(table.size(), 90u);
  std::set<const TKVMsg*> distinct(table.begin(), table.end());
  EXPECT_EQ(distinct.size(), table.size());
  for (const TKVMsg* m : table) {
    for (size_t i = 0; i < m->size(); ++i) {
      std::string_view t = (*m)[i];
      EXPECT_FALSE(t.empty()) << (*m)[0] << " language " << i;
      // Valid UTF-8 survives a round trip through QString unchanged.
      QString q = QString::fromUtf8(t.data(), qsizetype(t.size()));
      EXPECT_EQ(q.toStdString(), std::string(t)) << (*m)[0] << " language " << i;
    }
  }
  EXPECT_EQ(kvmsg(KVMSG_SCANNDEDDOCUMENTINFO, msEnglish), "Scanned document info");
  EXPECT_EQ(kvmsg(KVMSG_HORIZPOSITIONINCH, msEnglish), "Horiz. Position (inch)");
  EXPECT_EQ(kvmsg(KVMSG_REFLECTIVE, msEnglish), "Reflective");
  EXPECT_EQ(kvmsg(KVMSG_BYTES, msFrench), "octets");
  EXPECT_EQ(kvmsg(KVMSG_FILESOFTYPE, msEnglish), "Files of type:");
  EXPECT_EQ(kvmsg(KVMSG_UNRECOGNIZEDFILTER, msEnglish), "unrecognized filter");
}

TEST(Kvmsg, UnknownLanguageValueFallsBackToEnglish) {
  EXPECT_EQ(kvmsg(KVMSG_CANCEL, TMsgLanguage(42)), "Cancel");
  EXPECT_EQ(kvmsg(KVMSG_CANCEL, TMsgLanguage(-1)), "Cancel");
}

struct SystemCase {
  QLocale::Language language;
  QLocale::Territory territory;
  int primary;
  const char* cancel;
};
class KvmsgSystem : public ::testing::TestWithParam<SystemCase> {};

TEST_P(KvmsgSystem, FollowsTheDefaultLocale) {
  const SystemCase& c = GetParam();
  DefaultLocale scope(QLocale(c.language, c.territory));
  EXPECT_EQ(GetSystemPrimaryLanguage(), c.primary);
  EXPECT_EQ(kvmsg(KVMSG_CANCEL, msSystem), c.cancel);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, KvmsgSystem,
    ::testing::Values(SystemCase{QLocale::Dutch, QLocale::Netherlands, 19, "Cancel"},
                      SystemCase{QLocale::German, QLocale::Germany, 7, "Abbrechen"},
                      SystemCase{QLocale::German, QLocale::Austria, 7, "Abbrechen"},
                      SystemCase{QLocale::Spanish, QLocale::Mexico, 10, "Cancelar"},
                      SystemCase{QLocale::French, QLocale::Canada, 12, "Annuler"},
                      SystemCase{QLocale::Italian, QLocale::Switzerland, 16, "Annulla"},
                      SystemCase{QLocale::Portuguese, QLocale::Brazil, 22, "Cancelar"},
                      SystemCase{QLocale::English, QLocale::UnitedKingdom, 9, "Cancel"},
                      SystemCase{QLocale::NorwegianBokmal, QLocale::Norway, 20, "Cancel"},
                      SystemCase{QLocale::Serbian, QLocale::Serbia, 26, "Cancel"},
                      SystemCase{QLocale::Japanese, QLocale::Japan, 17, "Cancel"},
                      SystemCase{QLocale::Esperanto, QLocale::AnyTerritory, 0, "Cancel"}));

TEST(Kvmsg, SystemChoiceIsMadeAtEachLookup) {
  std::string before, after;
  {
    DefaultLocale scope(QLocale(QLocale::French, QLocale::France));
    before = kvmsg(KVMSG_PREVIEW, msSystem);
  }
  {
    DefaultLocale scope(QLocale(QLocale::Italian, QLocale::Italy));
    after = kvmsg(KVMSG_PREVIEW, msSystem);
  }
  EXPECT_EQ(before, "Prévisualisation");
  EXPECT_EQ(after, "Anteprima");
}
