#pragma once
#include <string>
#include <utility>
#include <vector>

#include "config/port_discovery.h"

// A port list backed by a vector, standing in for a drop-down list.
class VectorPortList : public PortList {
public:
    VectorPortList() = default;
    explicit VectorPortList(std::vector<std::string> items, int selected = -1)
        : items(std::move(items)), selected(selected) {}

    int Count() const override { return static_cast<int>(items.size()); }
    std::string Text(int index) const override {
        return index >= 0 && index < Count() ? items[static_cast<size_t>(index)] : std::string();
    }
    void Append(const std::string& text) override { items.push_back(text); }
    int Selected() const override { return selected; }
    void Select(int index) override { selected = index >= 0 && index < Count() ? index : -1; }

    std::vector<std::string> items;
    int selected = -1;
};
