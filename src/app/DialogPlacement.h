#pragma once

/** Where a dialog window goes beside the panel: the left edge of the window at the
    panel's right edge when there is more room on the right of the monitor, else the
    window's right edge at the panel's left edge. Only the monitor's width counts, not
    its x; a panel that already sticks out past the right edge counts a whole monitor
    width of room on the right.

    @returns the window's x on the screen
*/
inline int dialogXBesidePanel (int panelX, int panelWidth, int monitorWidth, int windowWidth) noexcept
{
    int roomRight = monitorWidth - (panelX + panelWidth);
    const int adjustment = roomRight < 0 ? monitorWidth : 0;
    const int roomLeft = panelX - windowWidth - adjustment;
    roomRight += adjustment;

    return roomLeft < roomRight ? panelX + panelWidth : panelX - windowWidth;
}
