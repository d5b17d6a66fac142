#include "frmIstruzioni.h"

frmIstruzioni &frmIstruzioni::instance()
{
    static frmIstruzioni *window = new frmIstruzioni;
    return *window;
}

frmIstruzioni::frmIstruzioni(QWidget *parent) : QDialog(parent) {}

void frmIstruzioni::ShowModal()
{
    exec();
}
