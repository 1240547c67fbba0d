pragma Singleton
import QtQuick

// The named text styles, colours and materials every view uses, mapped onto the Qt palette so the
// app follows the desktop's light or dark scheme. Sizes are in points (logical pixels).
QtObject {
    id: theme

    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property bool dark: palette.window.hslLightness < 0.5

    readonly property color primary: palette.windowText
    readonly property color secondary: Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.62 : 0.58)
    readonly property color tertiary: Qt.rgba(primary.r, primary.g, primary.b, 0.32)
    readonly property color quaternary: Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.12 : 0.08)
    readonly property color separator: Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.18 : 0.14)
    readonly property color orange: dark ? "#ff9f0a" : "#c2410c"
    readonly property color green: dark ? "#30d158" : "#16a34a"
    // One colour per tool by raw value, the same in light and dark schemes.
    readonly property var toolColors: ({ claude: "#d97757", codex: "#10a37f", openCode: "#3b82f6", cursor: "#8b5cf6" })
    readonly property color accent: palette.highlight
    readonly property color window: palette.window
    readonly property color background: palette.base
    readonly property color sidebar: dark ? Qt.darker(palette.window, 1.15) : Qt.darker(palette.window, 1.03)
    // The "regular material" behind cards: the window tinted a little toward the text colour.
    readonly property color regularMaterial: Qt.tint(palette.base, Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.07 : 0.035))

    readonly property font largeTitle: Qt.font({ pixelSize: 26, weight: Font.Bold })
    readonly property font title2: Qt.font({ pixelSize: 19, weight: Font.Bold })
    readonly property font title3: Qt.font({ pixelSize: 15 })
    readonly property font headline: Qt.font({ pixelSize: 13, weight: Font.DemiBold })
    readonly property font body: Qt.font({ pixelSize: 13 })
    readonly property font caption: Qt.font({ pixelSize: 11 })
    readonly property font metric: Qt.font({ pixelSize: 28, weight: Font.DemiBold })
    readonly property font total: Qt.font({ pixelSize: 42, weight: Font.Bold })
    readonly property font monospaced: Qt.font({ family: "monospace", pixelSize: 12 })
    readonly property font monospacedCaption: Qt.font({ family: "monospace", pixelSize: 11 })
}
