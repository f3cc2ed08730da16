#include "SyntheticDefinition.h"

#include <sstream>

namespace bench {
namespace {

void Texts(std::ostringstream& out, int i, const char* what) {
    out << "    <Title Lang=\"ja\">" << what << "の設定 " << i << "</Title>\n"
        << "    <Title Lang=\"en\">" << what << " setting " << i << "</Title>\n"
        << "    <Note Lang=\"ja\">合成した説明文 " << i << "。</Note>\n"
        << "    <Note Lang=\"en\">Synthetic description of setting " << i << ".</Note>\n";
}

} // namespace

std::string SyntheticDefinition(int properties) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<CameraPropertyDefine SchemaMajorVersion=\"1\" SchemaMinorVersion=\"0\">\n";

    // Tree: groups of 50 leaves, two levels deep.
    out << "  <PropertyIndex>\n";
    for (int g = 0; g * 50 < properties; ++g) {
        out << "    <Grouping><Title Lang=\"ja\">グループ " << g
            << "</Title><Title Lang=\"en\">Group " << g
            << "</Title>\n      <Grouping><Title Lang=\"en\">Sub</Title>\n";
        for (int i = g * 50; i < properties && i < g * 50 + 50; ++i)
            out << "        <PropertyName>P" << i << "</PropertyName>\n";
        out << "      </Grouping>\n    </Grouping>\n";
    }
    out << "  </PropertyIndex>\n";

    for (int i = 0; i < properties; ++i) {
        const char* styles[] = {"SpaceAndComma", "NoSeparate", "CommandOnly"};
        out << "  <TARNCommand Name=\"c" << i << "\"><MessageStyle>" << styles[i % 3]
            << "</MessageStyle><CommandValue><PropertyName>P" << i
            << "</PropertyName></CommandValue></TARNCommand>\n";
    }
    for (int i = 0; i < properties / 20; ++i)
        out << "  <Information Name=\"I" << i << "\"><Keyword>K" << i
            << "=</Keyword><InformationStyle>SingleInteger</InformationStyle>"
               "<TemplateString>%d\\r</TemplateString><PropertyName>P"
            << i * 20 << "</PropertyName></Information>\n";

    for (int i = 0; i < properties; ++i) {
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
            out << "  <Property_Integer Name=\"P" << i << "\">\n";
            Texts(out, i, "整数");
            out << "    <AccessMode>RW</AccessMode><Unit>us</Unit><TARNCommandName>c" << i
                << "</TARNCommandName>\n    <Min>0</Min><Max>" << 1000 + i
                << "</Max><Inc>1</Inc><Value>" << i << "</Value>\n";
            if (i % 10 == 3)
                out << "    <pIndex>P" << i - 1
                    << "</pIndex><ValueIndexed Index=\"0\">5</ValueIndexed>"
                    << "<ValueIndexed Index=\"1\">6</ValueIndexed><ValueDefault>7</ValueDefault>\n";
            out << "  </Property_Integer>\n";
            break;
        case 4:
            out << "  <Property_Bool Name=\"P" << i << "\">\n";
            Texts(out, i, "切替");
            out << "    <AccessMode>RW</AccessMode><TARNCommandName>c" << i
                << "</TARNCommandName><Value>On</Value><OnValue>1</OnValue><OffValue>0</OffValue>\n"
                << "  </Property_Bool>\n";
            break;
        case 5:
            out << "  <Property_Float Name=\"P" << i << "\">\n";
            Texts(out, i, "実数");
            out << "    <AccessMode>RO</AccessMode><Unit>degC</Unit><Value>" << i
                << ".25</Value>\n  </Property_Float>\n";
            break;
        case 6:
            out << "  <Property_Selection Name=\"P" << i << "\">\n";
            Texts(out, i, "選択");
            out << "    <AccessMode>RW</AccessMode><TARNCommandName>c" << i
                << "</TARNCommandName><Value>1</Value>\n";
            for (int e = 0; e < 4; ++e)
                out << "    <SelectEntry><Value>" << e << "</Value><Text>Entry " << e
                    << "</Text></SelectEntry>\n";
            out << "  </Property_Selection>\n";
            break;
        case 7:
            out << "  <Property_String Name=\"P" << i << "\">\n";
            Texts(out, i, "文字列");
            out << "    <AccessMode>RW</AccessMode><TARNCommandName>c" << i
                << "</TARNCommandName><Value>text " << i << "</Value><Length>32</Length>\n"
                << "  </Property_String>\n";
            break;
        case 8:
            out << "  <Property_Execution Name=\"P" << i << "\">\n";
            Texts(out, i, "実行");
            out << "    <AccessMode>WO</AccessMode><TARNCommandName>c" << i
                << "</TARNCommandName>\n    <Prompt Lang=\"ja\">実行しますか？</Prompt>"
                   "<Prompt Lang=\"en\">Execute?</Prompt>\n  </Property_Execution>\n";
            break;
        default:
            out << "  <Calculator_Float Name=\"P" << i << "\">\n";
            Texts(out, i, "計算");
            out << "    <AccessMode>RO</AccessMode><pVariable Name=\"A\">P" << i - 9
                << "</pVariable><pVariable Name=\"B\">P" << i - 8 << "</pVariable>\n"
                << "    <Dependence>P" << i - 9 << "</Dependence><Dependence>P" << i - 8
                << "</Dependence><Formula>A * B / 10</Formula>\n  </Calculator_Float>\n";
            break;
        }
    }
    out << "</CameraPropertyDefine>\n";
    return out.str();
}

} // namespace bench
