// SPDX-License-Identifier: GPL-3.0-or-later
// The Game view of the Boost page: the Office view with the performance score (plus 15 while
// the network is connected), the Game list, and the switch back to the Office view.
import QtQuick

PageOffice {
    id: game

    procList: ProcDataListGame
    shownValue: FlowDataList.performanceGrade + (FlowDataList.networkConnected ? 15 : 0)
    statusText: (shownValue > 85 ? qsTr("Excellent to play game")
                 : shownValue > 60 ? qsTr("Slow to play game")
                 : qsTr("Frozen to play game")) + Translator.nulstr
    numberDisplay: score_number
    boostHotImage: Qt.resolvedUrl("images/btn_boost_2_h_120x35.png")
    boostNormalImage: Qt.resolvedUrl("images/btn_boost_2_n_120x35.png")
    boostText: qsTr("GAME BOOST") + Translator.nulstr
    switchHotImage: Qt.resolvedUrl("images/btn_Switch_game_h_70x20.png")
    switchNormalImage: Qt.resolvedUrl("images/btn_Switch_game_n_70x20.png")
    switchTarget: 0
    inertHalfOnRight: true

    Component {
        id: score_number
        PercentNumber2 {
            id: score
            objectName: "numberDisplay"
            value: game.shownValue
            TextBlack {
                objectName: "scoreLabel"
                anchors.left: score.right
                anchors.leftMargin: 10
                anchors.bottom: score.bottom
                anchors.bottomMargin: 5
                font.pixelSize: 14
                font.bold: true
                color: "#b3bcc0"
                text: qsTr("Score") + Translator.nulstr
            }
        }
    }
}
