#!/usr/bin/env python3
"""Writes the "index.html" of every shipped HTML template (English and Japanese).

Layout for mail clients: nested tables, inline styles, no scripts, no style sheets, fluid
widths (100% up to 600 pixels) so that a phone screen of 360 pixels shows them without
scrolling sideways. Every template marks its changeable places with the four block kinds.
Run: templates.py "<source>/data/HTML TEMPLATE"
"""
import pathlib
import sys

FONTS = {
    "en": "Arial, Helvetica, sans-serif",
    "ja": "'Hiragino Kaku Gothic ProN', Meiryo, 'IPAGothic', sans-serif",
}
NAME = {"en": "[[Name]]", "ja": "[[名前]]"}


def s(prompt, text):
    return f'<!string="{prompt}">{text}<!string-end>'


def page(lang, title, outer, inner):
    return f"""<!DOCTYPE html>
<html lang="{lang}">
<head>
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
</head>
<body style="margin:0; padding:0;">
<!bgcolor="{outer[0]}"><table width="100%" cellpadding="0" cellspacing="0" border="0" bgcolor="{outer[1]}"><!bgcolor-end>
<tr><td align="center" style="padding:16px 8px;">
<table width="100%" cellpadding="0" cellspacing="0" border="0" style="max-width:600px; font-family:{FONTS[lang]}; color:#333333;">
{inner}
</table>
</td></tr>
</table>
</body>
</html>
"""


def picture(prompt, src, alt):
    return (f'<!image="{prompt}"><img src="{src}" width="260" alt="{alt}" '
            f'style="display:block; width:100%; max-width:260px; height:auto; border:0; margin:0 auto;"><!image-end>')


def back(prompt, src, attrs, body):
    return f'<!back="{prompt}"><td background="{src}" {attrs}><!back-end>\n{body}\n</td>'


T = {}

# ---- newsletter
T["Newsletter"] = {
    "en": dict(title="Newsletter", p=dict(
        page=("Page colour", "Header background", "Masthead", "Issue", "Picture", "Headline",
              "Article", "Second headline", "Second article", "Sign-off", "Footer"),
        masthead="<b><font size=\"6\" color=\"#FFFFFF\">The Corner Shop News</font></b>",
        issue="<font color=\"#DDE8F5\">December issue</font>",
        headline="<b><font size=\"5\" color=\"#2B5F9E\">What is new this month</font></b>",
        article=f"Dear {NAME['en']},<br>thank you for reading our newsletter. This month we have new arrivals in every corner of the shop, longer opening hours on Saturdays and a small gift for every visit before the end of the month.<br><br>Our autumn range has arrived: warm scarves knitted in a small workshop in the north, hand-made ceramic cups in four glazes, and a new selection of loose-leaf teas that you can taste at the counter before you choose. We have also listened to your suggestions from the spring survey: the reading corner now has more chairs, the children\'s shelf has moved to the window where the light is better, and you can now pay by card for purchases of any amount. If you ordered something last month that was out of stock, we will call you as soon as it comes in; there is nothing you need to do.",
        headline2="<b><font color=\"#2B5F9E\">Workshop on Saturday</font></b>",
        article2="Join our free workshop on Saturday at 2 pm. Places are limited, so please <a href=\"https://example.com/workshop\">reserve yours here</a>. This time we will show how to wrap presents with cloth in the Japanese furoshiki style: no tape, no paper, and the cloth can be used again. Everything you need is provided, and you are welcome to bring a friend. The workshop lasts about an hour, with tea and biscuits afterwards.",
        signoff="<i>With warm regards,<br>the team of The Corner Shop</i>",
        footer="<font size=\"2\" color=\"#777777\">You receive this mail because you are a customer of The Corner Shop. Reply with \"unsubscribe\" to stop these mails.</font>")),
    "ja": dict(title="ニュースレター", p=dict(
        page=("ページの背景色", "見出しの背景画像", "誌名", "号", "写真", "見出し", "記事",
              "二つ目の見出し", "二つ目の記事", "結び", "フッター"),
        masthead="<b><font size=\"6\" color=\"#FFFFFF\">街かど通信</font></b>",
        issue="<font color=\"#DDE8F5\">12月号</font>",
        headline="<b><font size=\"5\" color=\"#2B5F9E\">今月のお知らせ</font></b>",
        article=f"{NAME['ja']} 様<br>いつも街かど通信をお読みいただきありがとうございます。今月は新商品が続々入荷し、土曜日は営業時間を延長いたします。月末までにご来店のお客様にはささやかなプレゼントをご用意しております。<br><br>秋の新商品として、北の小さな工房で編まれた温かいマフラー、四色の釉薬から選べる手作りの湯のみ、店頭で試飲してからお選びいただける茶葉の新しいセレクションが入荷しました。春のアンケートでいただいたご意見も取り入れ、読書コーナーの椅子を増やし、子ども向けの棚を明るい窓際に移しました。また、金額にかかわらずカードでのお支払いがご利用いただけるようになりました。先月お取り寄せのご注文で品切れだった商品は、入荷しだいお電話でご連絡いたしますので、お客様のお手続きは必要ありません。",
        headline2="<b><font color=\"#2B5F9E\">土曜日のワークショップ</font></b>",
        article2="土曜日午後2時より無料のワークショップを開催します。定員に限りがございますので、<a href=\"https://example.com/workshop\">こちらからご予約</a>ください。今回は、テープも紙も使わずに風呂敷でプレゼントを包む方法をご紹介します。風呂敷は何度でも使えて、包み方を覚えると贈り物がぐっと華やかになります。必要な道具はすべてこちらでご用意いたしますので、手ぶらでお越しください。ご友人とご一緒の参加も歓迎です。所要時間は約一時間で、終了後はお茶とお菓子をご用意しております。",
        signoff="<i>今後ともよろしくお願いいたします。<br>街かどショップ スタッフ一同</i>",
        footer="<font size=\"2\" color=\"#777777\">このメールは街かどショップのお客様にお送りしています。配信停止をご希望の方は「配信停止」とご返信ください。</font>")),
}


def newsletter(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "dots.png", 'bgcolor="#2B5F9E" style="padding:20px 16px; background-color:#2B5F9E;"',
      f'<div style="font-size:26px; line-height:1.3;">{s(n[2], p["masthead"])}</div>'
      f'<div style="font-size:14px; padding-top:4px;">{s(n[3], p["issue"])}</div>')}
</tr>
<tr><td bgcolor="#FFFFFF" style="padding:20px 16px; background-color:#FFFFFF;">
<div style="padding-bottom:16px;">{picture(n[4], "news.jpg", "")}</div>
<div style="font-size:20px; line-height:1.4; padding-bottom:8px;">{s(n[5], p["headline"])}</div>
<div style="font-size:15px; line-height:1.7; padding-bottom:16px;">{s(n[6], p["article"])}</div>
<div style="font-size:17px; line-height:1.4; padding-bottom:8px;">{s(n[7], p["headline2"])}</div>
<div style="font-size:15px; line-height:1.7; padding-bottom:16px;">{s(n[8], p["article2"])}</div>
<div style="font-size:15px; line-height:1.7;">{s(n[9], p["signoff"])}</div>
</td></tr>
<tr><td style="padding:12px 16px; font-size:12px; line-height:1.5;">{s(n[10], p["footer"])}</td></tr>"""
    return page(lang, d["title"], (n[0], "#EEF4FB"), inner)


# ---- invitation
T["Invitation"] = {
    "en": dict(title="Invitation", p=dict(
        page=("Page colour", "Card background", "Heading", "Picture", "Invitation text",
              "Date and place colour", "Date and place", "Reply", "Signature"),
        heading="<b><font size=\"7\" color=\"#FFE8A3\">You are invited!</font></b>",
        text=f"<font color=\"#FFFFFF\">Dear {NAME['en']},<br>we are celebrating our tenth anniversary and would be delighted to welcome you to our party.</font>",
        when="<b>Saturday, 14 March, from 6 pm</b><br>Hall of the Riverside Hotel<br>12 Bridge Street",
        reply="<font color=\"#FFFFFF\">Please let us know by 1 March whether you can come: simply reply to this mail.</font>",
        sig="<i><font color=\"#FFE8A3\">We look forward to seeing you!</font></i>")),
    "ja": dict(title="ご招待", p=dict(
        page=("ページの背景色", "カードの背景画像", "見出し", "写真", "ご案内文", "日時と場所の背景色",
              "日時と場所", "ご返信", "署名"),
        heading="<b><font size=\"7\" color=\"#FFE8A3\">ご招待状</font></b>",
        text=f"<font color=\"#FFFFFF\">{NAME['ja']} 様<br>おかげさまで当店は創業10周年を迎えました。感謝の気持ちを込めて記念パーティーを開催いたします。ぜひご出席ください。</font>",
        when="<b>3月14日(土) 午後6時より</b><br>リバーサイドホテル 宴会場<br>橋本町12番地",
        reply="<font color=\"#FFFFFF\">ご出欠を3月1日までにこのメールへのご返信でお知らせください。</font>",
        sig="<i><font color=\"#FFE8A3\">皆様のお越しを心よりお待ちしております。</font></i>")),
}


def invitation(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "stars.png", 'align="center" bgcolor="#2A1F4F" style="padding:28px 16px; background-color:#2A1F4F; text-align:center;"',
      f'<div style="font-size:32px; line-height:1.3; padding-bottom:16px;">{s(n[2], p["heading"])}</div>'
      f'<div style="padding-bottom:16px;">{picture(n[3], "balloons.jpg", "")}</div>'
      f'<div style="font-size:16px; line-height:1.7; padding-bottom:16px;">{s(n[4], p["text"])}</div>'
      f'<table width="100%" cellpadding="0" cellspacing="0" border="0"><tr>'
      f'<!bgcolor="{n[5]}"><td bgcolor="#FFE8A3" style="padding:14px; border-radius:6px; font-size:16px; line-height:1.6; color:#2A1F4F; text-align:center;"><!bgcolor-end>'
      f'{s(n[6], p["when"])}</td></tr></table>'
      f'<div style="font-size:14px; line-height:1.7; padding-top:16px;">{s(n[7], p["reply"])}</div>'
      f'<div style="font-size:16px; line-height:1.7; padding-top:12px;">{s(n[8], p["sig"])}</div>')}
</tr>"""
    return page(lang, d["title"], (n[0], "#1D1736"), inner)


# ---- sale
T["Sale"] = {
    "en": dict(title="Sale", p=dict(
        page=("Page colour", "Banner background", "Banner", "Picture", "Greeting", "Offers",
              "Coupon colour", "Coupon", "Small print"),
        banner="<b><font size=\"7\" color=\"#E21B3C\">WINTER SALE</font></b><br><b><font size=\"5\" color=\"#333333\">up to 30% off</font></b>",
        greet=f"Dear {NAME['en']},<br>for one week only, everything in the shop is reduced. Here are a few of our favourites:",
        offers="<b>Wool scarves</b> now 20% off<br><b>Leather gloves</b> now 25% off<br><b>Winter boots</b> now 30% off",
        coupon="<b><font size=\"5\" color=\"#FFFFFF\">Your coupon: WINTER30</font></b><br><font color=\"#FFFFFF\">Show this mail at the till or enter the code online.</font>",
        small="<font size=\"2\" color=\"#777777\">Valid until 31 January while stocks last. Not combinable with other offers.</font>")),
    "ja": dict(title="セール", p=dict(
        page=("ページの背景色", "バナーの背景画像", "バナー", "写真", "ごあいさつ", "特価品",
              "クーポンの背景色", "クーポン", "注意書き"),
        banner="<b><font size=\"7\" color=\"#E21B3C\">冬のセール</font></b><br><b><font size=\"5\" color=\"#333333\">最大30%オフ</font></b>",
        greet=f"{NAME['ja']} 様<br>一週間限定で店内全品が値下げとなります。おすすめの商品をご紹介します。",
        offers="<b>ウールのマフラー</b> 20%オフ<br><b>革の手袋</b> 25%オフ<br><b>冬のブーツ</b> 30%オフ",
        coupon="<b><font size=\"5\" color=\"#FFFFFF\">クーポンコード: WINTER30</font></b><br><font color=\"#FFFFFF\">レジでこのメールをご提示いただくか、オンラインでコードをご入力ください。</font>",
        small="<font size=\"2\" color=\"#777777\">1月31日まで有効、在庫がなくなり次第終了いたします。他の割引との併用はできません。</font>")),
}


def sale(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "stripes.png", 'align="center" bgcolor="#FFE4D6" style="padding:24px 16px; background-color:#FFE4D6; text-align:center;"',
      f'<div style="font-size:34px; line-height:1.2;">{s(n[2], p["banner"])}</div>')}
</tr>
<tr><td bgcolor="#FFFFFF" align="center" style="padding:20px 16px; background-color:#FFFFFF;">
<div style="padding-bottom:16px;">{picture(n[3], "tag.jpg", "")}</div>
<div style="font-size:15px; line-height:1.7; padding-bottom:12px; text-align:left;">{s(n[4], p["greet"])}</div>
<div style="font-size:16px; line-height:1.9; padding-bottom:16px; text-align:left;">{s(n[5], p["offers"])}</div>
<table width="100%" cellpadding="0" cellspacing="0" border="0"><tr>
<!bgcolor="{n[6]}"><td bgcolor="#E21B3C" style="padding:16px; font-size:15px; line-height:1.6; text-align:center;"><!bgcolor-end>{s(n[7], p["coupon"])}</td>
</tr></table>
</td></tr>
<tr><td style="padding:12px 16px; font-size:12px; line-height:1.5;">{s(n[8], p["small"])}</td></tr>"""
    return page(lang, d["title"], (n[0], "#FFF4EE"), inner)


# ---- seasonal greeting
T["Seasonal Greeting"] = {
    "en": dict(title="Seasonal Greeting", p=dict(
        page=("Page colour", "Card background", "Greeting", "Picture", "Message", "Opening hours",
              "Signature"),
        greet="<b><font size=\"7\" color=\"#FFFFFF\">Season's Greetings</font></b>",
        msg=f"<font color=\"#FFFFFF\">Dear {NAME['en']},<br>thank you for your custom this year. We wish you and your family a peaceful holiday season and a happy new year.</font>",
        hours="<font color=\"#CFE6F5\"><b>Holiday opening hours</b><br>24 December: 9 am to 1 pm<br>25 and 26 December: closed<br>From 27 December: as usual</font>",
        sig="<i><font color=\"#FFFFFF\">Warm wishes from everyone at the Bakery on the Square</font></i>")),
    "ja": dict(title="季節のごあいさつ", p=dict(
        page=("ページの背景色", "カードの背景画像", "ごあいさつ", "写真", "メッセージ", "営業時間", "署名"),
        greet="<b><font size=\"7\" color=\"#FFFFFF\">年末のごあいさつ</font></b>",
        msg=f"<font color=\"#FFFFFF\">{NAME['ja']} 様<br>本年も格別のお引き立てを賜り、誠にありがとうございました。皆様が穏やかな年末年始をお過ごしになれますよう、心よりお祈り申し上げます。</font>",
        hours="<font color=\"#CFE6F5\"><b>年末年始の営業時間</b><br>12月31日: 午前9時～午後1時<br>1月1日～3日: 休業<br>1月4日より通常営業</font>",
        sig="<i><font color=\"#FFFFFF\">広場のパン屋 スタッフ一同</font></i>")),
}


def seasonal(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "snow.png", 'align="center" bgcolor="#0F4A6E" style="padding:28px 16px; background-color:#0F4A6E; text-align:center;"',
      f'<div style="font-size:32px; line-height:1.3; padding-bottom:16px;">{s(n[2], p["greet"])}</div>'
      f'<div style="padding-bottom:16px;">{picture(n[3], "winter.jpg", "")}</div>'
      f'<div style="font-size:16px; line-height:1.8; padding-bottom:16px;">{s(n[4], p["msg"])}</div>'
      f'<div style="font-size:14px; line-height:1.7; padding-bottom:16px;">{s(n[5], p["hours"])}</div>'
      f'<div style="font-size:16px; line-height:1.7;">{s(n[6], p["sig"])}</div>')}
</tr>"""
    return page(lang, d["title"], (n[0], "#0B2F45"), inner)


# ---- business notice
T["Business Notice"] = {
    "en": dict(title="Business Notice", p=dict(
        page=("Page colour", "Letterhead background", "Company", "Notice box colour", "Subject",
              "Notice", "Picture", "Contact"),
        company="<b><font size=\"5\" color=\"#334E68\">Hartley and Sons Ltd.</font></b><br><font size=\"2\" color=\"#627D98\">Office supplies since 1962</font>",
        subject="<b><font size=\"5\" color=\"#102A43\">Our office is moving</font></b>",
        notice=f"Dear {NAME['en']},<br>from 1 April our office and warehouse will be at the new address below. Telephone numbers and mail addresses stay the same. Orders placed during the move on 30 and 31 March will be delivered from 2 April.<br><br><b>New address:</b> 48 Station Road, Unit 5",
        contact="<font size=\"2\" color=\"#486581\">Hartley and Sons Ltd. | Telephone 01234 567890 | <a href=\"mailto:office@example.com\">office@example.com</a></font>")),
    "ja": dict(title="業務のお知らせ", p=dict(
        page=("ページの背景色", "レターヘッドの背景画像", "会社名", "お知らせ欄の背景色", "件名", "お知らせ",
              "写真", "連絡先"),
        company="<b><font size=\"5\" color=\"#334E68\">株式会社ハートリー商会</font></b><br><font size=\"2\" color=\"#627D98\">創業1962年 事務用品の専門商社</font>",
        subject="<b><font size=\"5\" color=\"#102A43\">事務所移転のお知らせ</font></b>",
        notice=f"{NAME['ja']} 様<br>拝啓 時下ますますご清栄のこととお慶び申し上げます。さて、弊社は4月1日より下記の住所へ事務所および倉庫を移転いたします。電話番号とメールアドレスに変更はございません。3月30日・31日の移転作業中にいただいたご注文は、4月2日より順次発送いたします。<br><br><b>新住所:</b> 駅前通り48番地 5号館",
        contact="<font size=\"2\" color=\"#486581\">株式会社ハートリー商会 電話 01234-567890 <a href=\"mailto:office@example.com\">office@example.com</a></font>")),
}


def business(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "grid.png", 'bgcolor="#F2F4F6" style="padding:18px 16px; background-color:#F2F4F6; border-bottom:3px solid #334E68;"',
      f'<div style="font-size:20px; line-height:1.4;">{s(n[2], p["company"])}</div>')}
</tr>
<tr><!bgcolor="{n[3]}"><td bgcolor="#FFFFFF" style="padding:20px 16px;"><!bgcolor-end>
<div style="font-size:20px; line-height:1.4; padding-bottom:12px;">{s(n[4], p["subject"])}</div>
<div style="font-size:15px; line-height:1.8; padding-bottom:16px;">{s(n[5], p["notice"])}</div>
<div>{picture(n[6], "office.jpg", "")}</div>
</td></tr>
<tr><td style="padding:12px 16px; font-size:12px; line-height:1.5; border-top:1px solid #D9E2EC;">{s(n[7], p["contact"])}</td></tr>"""
    return page(lang, d["title"], (n[0], "#E4E9EE"), inner)


# ---- photo letter
T["Photo Letter"] = {
    "en": dict(title="Photo Letter", p=dict(
        page=("Page colour", "Paper background", "Title", "Photo", "Caption", "Letter", "Signature"),
        title="<font face=\"Georgia\" size=\"6\" color=\"#6D4C2F\"><i>Greetings from the lake</i></font>",
        caption="<i><font size=\"2\" color=\"#8A6D4E\">Sunset over the lake, taken from our terrace</font></i>",
        letter=f"Dear {NAME['en']},<br>the summer season has begun at our guest house by the lake. The water is warm, the evenings are long and the terrace is open again until late.<br>We would be glad to welcome you again this year. Rooms for July and August can be booked by simply replying to this mail.",
        sig="<font face=\"Georgia\" color=\"#6D4C2F\"><i>With kind regards from the lakeside,<br>Anna and Tom</i></font>")),
    "ja": dict(title="フォトレター", p=dict(
        page=("ページの背景色", "便せんの背景画像", "タイトル", "写真", "写真の説明", "お便り", "署名"),
        title="<font size=\"6\" color=\"#6D4C2F\"><b>湖畔からのお便り</b></font>",
        caption="<font size=\"2\" color=\"#8A6D4E\">テラスから眺めた湖の夕暮れ</font>",
        letter=f"{NAME['ja']} 様<br>湖畔の宿にも夏の季節がやってまいりました。湖の水もぬるみ、日の長い夕べにはテラスを夜遅くまで開いております。<br>今年もまたお越しいただければ幸いです。7月・8月のご予約は、このメールへのご返信で承ります。",
        sig="<font color=\"#6D4C2F\">湖畔の宿より 心を込めて<br>アンナ・トム</font>")),
}


def photo(lang, d):
    p = d["p"]
    n = p["page"]
    inner = f"""<tr>
{back(n[1], "paper.png", 'align="center" bgcolor="#FBF3E4" style="padding:24px 16px; background-color:#FBF3E4; border:1px solid #E6D5B8; text-align:center;"',
      f'<div style="font-size:28px; line-height:1.3; padding-bottom:16px;">{s(n[2], p["title"])}</div>'
      f'<div style="padding:8px; background-color:#FFFFFF; border:1px solid #E6D5B8; display:inline-block; max-width:100%;">{picture(n[3], "lake.jpg", "")}</div>'
      f'<div style="font-size:13px; line-height:1.6; padding:8px 0 16px 0;">{s(n[4], p["caption"])}</div>'
      f'<div style="font-size:16px; line-height:1.8; padding-bottom:16px; text-align:left;">{s(n[5], p["letter"])}</div>'
      f'<div style="font-size:16px; line-height:1.7; text-align:right;">{s(n[6], p["sig"])}</div>')}
</tr>"""
    return page(lang, d["title"], (n[0], "#F3EAD8"), inner)


BUILD = {"Newsletter": newsletter, "Invitation": invitation, "Sale": sale,
         "Seasonal Greeting": seasonal, "Business Notice": business, "Photo Letter": photo}

out = pathlib.Path(sys.argv[1])
for name, langs in T.items():
    for lang, d in langs.items():
        folder = out / f"{name} ({'English' if lang == 'en' else 'Japanese'})"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "index.html").write_text(BUILD[name](lang, d), encoding="utf-8")
