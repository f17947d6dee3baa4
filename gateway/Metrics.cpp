#include "Metrics.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace {

// A label value escaped as the text format asks: backslash, quote, newline.
std::string Escaped(const std::string& value)
{
    std::string text;
    text.reserve(value.size());
    for (const char c : value) {
        if (c == '\\' || c == '"')
            text += '\\';
        if (c == '\n') {
            text += "\\n";
            continue;
        }
        text += c;
    }
    return text;
}

std::string LabelText(const TMetricLabels& labels)
{
    std::string text;
    for (const auto& [name, value] : labels)
        text += (text.empty() ? "" : ",") + name + "=\"" + Escaped(value) + '"';
    return text.empty() ? text : '{' + text + '}';
}

// A sample value as the text format writes it, in `buffer`.
std::string_view Number(double value, char (&buffer)[32])
{
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    if (std::isnan(value))
        return "NaN";
    // The shortest form that reads back the same.
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string_view(buffer, static_cast<size_t>(end - buffer));
}

std::string_view Number(unsigned long long value, char (&buffer)[32])
{
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string_view(buffer, static_cast<size_t>(end - buffer));
}

void Append(std::string& text, std::initializer_list<std::string_view> parts)
{
    for (const std::string_view part : parts)
        text += part;
}

const char* TypeName(TMetrics::TType type)
{
    switch (type) {
    case TMetrics::TType::Counter:
        return "counter";
    case TMetrics::TType::Gauge:
        return "gauge";
    case TMetrics::TType::Histogram:
        return "histogram";
    }
    return "untyped";
}

} // namespace

void TMetrics::Declare(const std::string& name, TType type, const std::string& help, std::vector<double> buckets)
{
    std::lock_guard lock(FMutex);
    TFamily& family = FFamilies[name];
    family.Type = type;
    family.Help = help;
    std::sort(buckets.begin(), buckets.end());
    family.Bounds = std::move(buckets);
    family.BoundLabels.clear();
    char bound[32];
    for (const double value : family.Bounds)
        family.BoundLabels.push_back("le=\"" + std::string(Number(value, bound)) + "\"} ");
}

TMetrics::TSeries& TMetrics::Series(const std::string& name, const TMetricLabels& labels, TType type)
{
    const auto family = FFamilies.find(name);
    // A name used without being declared is a fault of the gateway itself.
    if (family == FFamilies.end() || family->second.Type != type)
        throw std::logic_error("metric " + name + " is not declared as used");
    TSeries& series = family->second.Series[LabelText(labels)];
    if (!series.Made) {
        series.Made = true;
        series.Buckets.assign(family->second.Bounds.size(), 0);
    }
    return series;
}

void TMetrics::Set(const std::string& name, const TMetricLabels& labels, double value)
{
    std::lock_guard lock(FMutex);
    Series(name, labels, TType::Gauge).Value = value;
}

void TMetrics::Add(const std::string& name, const TMetricLabels& labels, double amount)
{
    std::lock_guard lock(FMutex);
    Series(name, labels, TType::Counter).Value += amount;
}

void TMetrics::Observe(const std::string& name, const TMetricLabels& labels, double value)
{
    std::lock_guard lock(FMutex);
    const std::vector<double>& bounds = FFamilies[name].Bounds;
    TSeries& series = Series(name, labels, TType::Histogram);
    const auto bucket = std::lower_bound(bounds.begin(), bounds.end(), value);
    if (bucket != bounds.end())
        ++series.Buckets[static_cast<size_t>(bucket - bounds.begin())];
    series.Sum += value;
    ++series.Count;
}

TMetrics::THandle TMetrics::Gauge(const std::string& name, const TMetricLabels& labels)
{
    std::lock_guard lock(FMutex);
    THandle handle;
    handle.FSeries = &Series(name, labels, TType::Gauge);
    return handle;
}

TMetrics::THandle TMetrics::Counter(const std::string& name, const TMetricLabels& labels)
{
    std::lock_guard lock(FMutex);
    THandle handle;
    handle.FSeries = &Series(name, labels, TType::Counter);
    return handle;
}

void TMetrics::Set(THandle series, double value)
{
    std::lock_guard lock(FMutex);
    series.FSeries->Value = value;
}

void TMetrics::Add(THandle series, double amount)
{
    std::lock_guard lock(FMutex);
    series.FSeries->Value += amount;
}

double TMetrics::Value(const std::string& name, const TMetricLabels& labels) const
{
    std::lock_guard lock(FMutex);
    const auto family = FFamilies.find(name);
    if (family == FFamilies.end())
        return 0;
    const auto series = family->second.Series.find(LabelText(labels));
    return series == family->second.Series.end() ? 0 : series->second.Value;
}

std::string TMetrics::Text() const
{
    std::lock_guard lock(FMutex);
    std::string text;
    text.reserve(256 * 1024);
    char number[32];
    for (const auto& [name, family] : FFamilies) {
        if (family.Series.empty())
            continue;
        Append(text, {"# HELP ", name, " ", family.Help, "\n# TYPE ", name, " ", TypeName(family.Type), "\n"});
        for (const auto& [labelText, series] : family.Series) {
            if (family.Type != TType::Histogram) {
                Append(text, {name, labelText, " ", Number(series.Value, number), "\n"});
                continue;
            }
            // The bucket's bound is the last label.
            const std::string_view labels = labelText.empty() ? std::string_view("{") : std::string_view(labelText).substr(0, labelText.size() - 1);
            const std::string_view comma = labelText.empty() ? "" : ",";
            unsigned long long cumulative = 0;
            for (size_t i = 0; i < family.Bounds.size(); ++i) {
                cumulative += series.Buckets[i];
                Append(text, {name, "_bucket", labels, comma, family.BoundLabels[i], Number(cumulative, number), "\n"});
            }
            Append(text, {name, "_bucket", labels, comma, "le=\"+Inf\"} ", Number(series.Count, number), "\n"});
            Append(text, {name, "_sum", labelText, " ", Number(series.Sum, number), "\n"});
            Append(text, {name, "_count", labelText, " ", Number(series.Count, number), "\n"});
        }
    }
    return text;
}
