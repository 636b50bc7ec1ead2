#pragma once

#include <QWidget>

#include <functional>
#include <map>

namespace monitor {

/// The tool windows the tray menu opens. Each window's own code registers a
/// factory here, so the tray needs no knowledge of any of them.
enum class Tool { Ping, Config, Log, About };

class ToolWindows {
public:
    /// Makes a new window. Ping, Config and Log must be QDialogs (they are
    /// shown modally); About is shown without modality.
    using Factory = std::function<QWidget*(QWidget* parent)>;

    void set(Tool tool, Factory factory) { m_factories[tool] = std::move(factory); }
    bool has(Tool tool) const { return m_factories.count(tool) != 0; }
    QWidget* make(Tool tool, QWidget* parent) const {
        const auto it = m_factories.find(tool);
        return it == m_factories.end() ? nullptr : it->second(parent);
    }

private:
    std::map<Tool, Factory> m_factories;
};

} // namespace monitor
