#include "film_source.h"

namespace orvax::ds {

namespace {

bool IsNegative(const QString& value) { return value.contains(QLatin1String("negative"), Qt::CaseInsensitive); }

bool IsTransparency(const QString& value) {
  if (IsNegative(value)) return false;
  for (const char* word : {"transparen", "tpu", "slide", "film", "positive"})
    if (value.contains(QLatin1String(word), Qt::CaseInsensitive)) return true;
  return false;
}

// The first value that WANT takes, preferring one without infrared (a dust channel that the
// data source does not deliver).
QString First(const QStringList& values, bool (*want)(const QString&)) {
  QString fallback;
  for (const QString& v : values) {
    if (!want(v)) continue;
    if (!v.contains(QLatin1String("infrared"), Qt::CaseInsensitive)) return v;
    if (fallback.isEmpty()) fallback = v;
  }
  return fallback;
}

}  // namespace

FilmSetup ChooseFilmSetup(const QStringList& sources, const QString& current, const QStringList& filmTypes, FilmType type) {
  FilmSetup setup;
  const bool negative = type == FilmType::ColorNegative || type == FilmType::BwNegative;
  const QString negativeSource = First(sources, IsNegative);
  QString source = current;
  if (negative && !negativeSource.isEmpty()) {
    setup.source = negativeSource;
    setup.deviceReadsNegative = true;
    return setup;
  }
  if (!negative && IsNegative(current)) {
    // A positive through the negative adapter would come out inverted.
    setup.source = First(sources, IsTransparency);
    if (setup.source.isEmpty())
      for (const QString& v : sources)
        if (!IsNegative(v)) {
          setup.source = v;
          break;
        }
    source = setup.source;
  }
  if (IsTransparency(source) || sources.isEmpty()) {
    const QString film = First(filmTypes, negative ? IsNegative : IsTransparency);
    if (!film.isEmpty()) {
      setup.filmType = film;
      setup.deviceReadsNegative = negative;
    }
  }
  return setup;
}

}  // namespace orvax::ds
