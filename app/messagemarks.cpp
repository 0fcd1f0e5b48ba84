#include "messagemarks.h"

#include "childwin.h"
#include "compilecontrol.h"
#include "documents.h"

TMessageMarks::TMessageMarks(TCompileControl &compiler, TDocuments &docs)
    : QObject(&compiler), Compiler(compiler), Docs(docs) {
    connect(&Compiler, &TCompileControl::CompileStarted, this, [this](const QString &source) {
        for (int i = 0; i < Docs.MDIChildCount(); ++i) Docs.MDIChildren(i)->RichEdit1->ClearLineMarks(source);
    });
    connect(&Compiler, &TCompileControl::CompileMessagesKnown, this, [this](const QString &source) {
        for (int i = 0; i < Docs.MDIChildCount(); ++i) Show(Docs.MDIChildren(i), source);
    });
    connect(&Docs, &TDocuments::Loaded, this, [this](TMDIChild *doc) {
        for (const QString &source : Compiler.CompiledSources()) Show(doc, source);
    });
}

void TMessageMarks::Show(TMDIChild *doc, const QString &source) const {
    if (doc->FileName.isEmpty()) return;
    const QString file = ShortPath(doc->FileName);
    std::vector<TLineMark> marks;
    for (const buildcmd::TCompilerMessage &m : Compiler.Messages(source))
        if (m.File == file) marks.push_back({m.Line - 1, m.Warning, m.Text});
    doc->RichEdit1->SetLineMarks(source, marks);
}
