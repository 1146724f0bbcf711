// How SANE devices' source and film-type values serve the film types: a negative adapter or
// a transparency unit's negative film type reads negatives in the device; without them the
// data source inverts; positives never leave a flatbed for the transparency unit, and never
// stay on a negative adapter.
#include "film_source.h"

#include <gtest/gtest.h>

namespace orvax::ds {
namespace {

TEST(FilmSetupTest, SourcesAndFilmTypesOfFilmScannersAndFlatbeds) {
  const QStringList adapters = {"Normal", "Transparency", "Negative"};
  const QStringList infrared = {"Flatbed", "Transparency Adapter Infrared", "Transparency Adapter"};
  const QStringList unit = {"Flatbed", "Transparency Unit", "Automatic Document Feeder"};
  const QStringList unitFilms = {"Positive Film", "Negative Film", "Positive Slide", "Negative Slide"};
  const QStringList flatbed = {"Flatbed", "Automatic Document Feeder"};
  struct Case {
    const char* name;
    QStringList sources;
    QString current;
    QStringList filmTypes;
    FilmType type;
    FilmSetup want;
  };
  const Case cases[] = {
      {"negative adapter", adapters, "Normal", {}, FilmType::ColorNegative, {"Negative", "", true}},
      {"B&W through the negative adapter", adapters, "Transparency", {}, FilmType::BwNegative, {"Negative", "", true}},
      {"positive leaves the negative adapter", adapters, "Negative", {}, FilmType::ColorPositive, {"Transparency", "", false}},
      {"positive keeps the flatbed", adapters, "Normal", {}, FilmType::ColorPositive, {"", "", false}},
      {"no negative adapter: the source inverts", infrared, "Transparency Adapter", {}, FilmType::ColorNegative, {"", "", false}},
      {"transparency unit's negative film", unit, "Transparency Unit", unitFilms, FilmType::ColorNegative,
       {"", "Negative Film", true}},
      {"transparency unit's positive film", unit, "Transparency Unit", unitFilms, FilmType::BwPositive,
       {"", "Positive Film", false}},
      {"film types of a flatbed's unit wait for the unit", unit, "Flatbed", unitFilms, FilmType::ColorNegative, {"", "", false}},
      {"film scanner without sources", {}, "", unitFilms, FilmType::BwNegative, {"", "Negative Film", true}},
      {"flatbed and feeder", flatbed, "Flatbed", {}, FilmType::ColorNegative, {"", "", false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FilmSetup got = ChooseFilmSetup(c.sources, c.current, c.filmTypes, c.type);
    EXPECT_EQ(got.source, c.want.source);
    EXPECT_EQ(got.filmType, c.want.filmType);
    EXPECT_EQ(got.deviceReadsNegative, c.want.deviceReadsNegative);
  }
  // An adapter for infrared only is still taken when it is the only one.
  EXPECT_EQ(ChooseFilmSetup({"Flatbed", "Negative Infrared"}, "Flatbed", {}, FilmType::ColorNegative).source,
            "Negative Infrared");
  EXPECT_EQ(ChooseFilmSetup({"Flatbed", "Negative Infrared", "Negative"}, "Flatbed", {}, FilmType::ColorNegative).source,
            "Negative");
}

}  // namespace
}  // namespace orvax::ds
