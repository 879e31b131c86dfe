#pragma once
// The "Questionário" page of "Geral": the questionnaires, each tied to positions, to departments
// or made the standard one, and the two check lists that pick those positions and departments.

#include "CheckList.h"
#include "DBGrid.h"
#include "FormPadrao.h"
#include "NetConnection.h"
#include "Splitter.h"

#include <QLabel>
#include <QObject>

class QScrollArea;

// A controller rather than a panel widget: the page's controls stay where the form's tree had them.
class TQuestionario : public QObject {
    Q_OBJECT
public:
    // The marks of a check list left with nothing ticked: the next tick of that mode in the
    // questionnaire grid only confirms the drop. The unit holds them for the life of the module.
    struct LeftEmpty {
        bool& positions;
        bool& departments;
    };

    // Of the form it takes only its base (focus events, long-work guard, palette, the parent of
    // its pictures and progress), the connection to the service and the unit's marks.
    TQuestionario(TfrmPadrao& form, TNetConnection& connection, LeftEmpty leftEmpty);

    TClientDataSet cdsInspecao{QStringLiteral("cdsInspecao")};
    TClientDataSet cdsCargo{QStringLiteral("cdsCargo")};
    TClientDataSet cdsDepto{QStringLiteral("cdsDepto")};
    TDataSource dtsInspecao{QStringLiteral("dtsInspecao")};
    TDataSource dtsCargo{QStringLiteral("dtsCargo")};
    TDataSource dtsDepto{QStringLiteral("dtsDepto")};

    // Pictures that paint the tick cells.
    QLabel *imgCheck = nullptr, *imgUncheck = nullptr, *imgDesCheck = nullptr;

    // The page's controls: none until the page is first shown or a rule needs them.
    QWidget *panQuest = nullptr, *panQuesCand = nullptr, *pan = nullptr, *panSeparador = nullptr,
            *panDepCarg = nullptr;
    QScrollArea* scbQuest = nullptr;
    TSplitter* splPar = nullptr;
    TDBGrid *dbgQuestCand = nullptr, *dbgCargo = nullptr, *dbgDepto = nullptr;

    // Makes `page`, a page of `pages`, build its controls, columns and events when first shown.
    void createQuestionarioPage(TPageControl* pages, QWidget* page);
    // A key that may only read: the lists tell why nothing can be ticked.
    void showReadOnly(const QString& why);

    // What the form's rules ask of the page.
    // Reads the questionnaires again, of as many levels as the host's code picture has.
    void loadQuestionnaires();
    // The page was brought forward: its questionnaires read again, the focus in them.
    void pageShown();
    // Confirm leaves a list that has the focus before its checks may move the focus away.
    void leaveFocusedList(QWidget* focused);
    // The form's key preview: Alt+PageDown goes from the questionnaires to the list shown,
    // Alt+PageUp back.
    void formKeyDown(int& key, Qt::KeyboardModifiers shift);

    void cdsInspecaoAfterScroll();
    void cdsInspecaoBeforeScroll();
    void cdsInspecaoBeforeInsert();
    void cdsCargoBeforeInsert();
    void cdsDeptoBeforeInsert();
    void panDepCargExit();
    void dbgQuestCandCellClick(TColumn& Column);
    void dbgQuestCandKeyDown(int& key, Qt::KeyboardModifiers shift);
    void dbgQuestCandColEnter();
    void dbgQuestCandEnter();
    void dbgCargoCellClick(TColumn& Column);
    void dbgDeptoCellClick(TColumn& Column);
    void dbgCargoKeyDown(int& key, Qt::KeyboardModifiers shift);
    void dbgDeptoKeyDown(int& key, Qt::KeyboardModifiers shift);
    void dbgCargoTitleClick(TColumn& Column);
    void dbgDeptoTitleClick(TColumn& Column);
    void dbgCargoExit();
    void dbgDeptoExit();
    void dbgCargoEnter();
    void dbgDeptoEnter();
    void dbgCargoColEnter();
    void dbgDeptoColEnter();
    void dbgQuestCandDrawColumnCell(QPainter* canvas, const QRect& Rect, int DataCol,
                                    TColumn& Column, const QStyleOptionViewItem& State);
    void dbgCargoDrawColumnCell(QPainter* canvas, const QRect& Rect, int DataCol, TColumn& Column,
                                const QStyleOptionViewItem& State);
    void dbgDeptoDrawColumnCell(QPainter* canvas, const QRect& Rect, int DataCol, TColumn& Column,
                                const QStyleOptionViewItem& State);

private:
    void buildPage();
    // Builds the page's controls now if they are still waiting: for a rule that needs them.
    void ensurePage();
    // The questionnaires take a share of the page's height that shows eight of them when the
    // page allows, the lists the rest, or on a page wide enough the lists go beside them; once
    // the user drags the splitter, the user's share holds.
    void shareRoom();
    int questionnairesWidth() const;
    void createTickPictures();
    void bindColumns();
    void bindQuestionnaireEvents();
    QString questionnaireLevelArgument() const;
    // Shows the list's grid, or none, and hides the other: the position grid first.
    void showOnlyList(const TDBGrid* list);
    // The position and department lists: one class, told apart by these.
    TCheckList::Kind positionList() const;
    TCheckList::Kind departmentList() const;
    void paintTickCell(QPainter* canvas, const QRect& rect, const QVariant& value) const;
    void paintListTick(const TDBGrid& list, QPainter* canvas, const QRect& rect,
                       const TColumn& column) const;

    TfrmPadrao& m_form;
    TNetConnection& m_connection;
    LeftEmpty m_leftEmpty;
    TPageControl* m_pages = nullptr;
    QWidget* m_page = nullptr;
    QString m_readOnlyTip;
    TCheckList m_positions{positionList(), cdsCargo, cdsInspecao, m_connection, m_form};
    TCheckList m_departments{departmentList(), cdsDepto, cdsInspecao, m_connection, m_form};
};
