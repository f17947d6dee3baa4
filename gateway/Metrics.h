#pragma once
// The gateway's metrics: counters, gauges and histograms by name and labels,
// written in Prometheus's text format. Every family is declared once with its
// help text (and a histogram with its bucket bounds) before it is used.
// Safe to use from any thread.
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using TMetricLabels = std::vector<std::pair<std::string, std::string>>;

class TMetrics {
    struct TSeries;

public:
    enum class TType { Counter, Gauge, Histogram };

    // A counter or gauge series looked up once, for values that change
    // often; valid as long as the metrics.
    class THandle {
        friend class TMetrics;
        TSeries* FSeries = nullptr;
    };

    void Declare(const std::string& name, TType type, const std::string& help, std::vector<double> buckets = {});

    void Set(const std::string& name, const TMetricLabels& labels, double value);
    void Add(const std::string& name, const TMetricLabels& labels, double amount = 1);
    void Observe(const std::string& name, const TMetricLabels& labels, double value);

    THandle Gauge(const std::string& name, const TMetricLabels& labels);
    THandle Counter(const std::string& name, const TMetricLabels& labels);
    void Set(THandle series, double value);
    void Add(THandle series, double amount = 1);

    // The value of a counter or gauge series; 0 for one not seen yet.
    double Value(const std::string& name, const TMetricLabels& labels) const;

    // Every family in the order of their names, each series in the order of
    // its labels.
    std::string Text() const;

private:
    struct TSeries {
        bool Made = false;
        double Value = 0;
        std::vector<unsigned long long> Buckets; // histogram: counts per bound, not yet cumulative
        double Sum = 0;
        unsigned long long Count = 0;
    };
    struct TFamily {
        TType Type = TType::Counter;
        std::string Help;
        std::vector<double> Bounds;
        std::vector<std::string> BoundLabels; // le="BOUND"} for each bound, as written
        std::map<std::string, TSeries> Series;
    };

    TSeries& Series(const std::string& name, const TMetricLabels& labels, TType type);

    mutable std::mutex FMutex;
    std::map<std::string, TFamily> FFamilies;
};
